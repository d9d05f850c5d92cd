// Reads a dialog template resource of the running module back into plain values, so tests
// can check what the resource compiler produced: styles as written, not as the controls
// adjust them at run time.
#pragma once

#include "platform/Win32.h"

#include <string>
#include <vector>

struct TemplateItem {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::string className; // a predefined class is given by its name ("BUTTON", "EDIT", ...)
    std::string text;      // an ordinal text (an icon resource) reads as "#<number>"
};

struct DialogTemplate {
    bool extended = false;
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string menu; // "#129" for an ordinal
    std::string className;
    std::string caption;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::string typeface;
    std::vector<TemplateItem> items;
};

// False when the module has no such dialog resource.
bool ReadDialogTemplate(int resourceId, DialogTemplate& out);
