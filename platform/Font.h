// A GDI font owned by the object: deleted with it.
#pragma once

#include "platform/Win32.h"

class CFont {
public:
    CFont() = default;
    CFont(const CFont&) = delete;
    CFont& operator=(const CFont&) = delete;
    ~CFont() { DeleteObject(); }

    BOOL Attach(HFONT hFont) {
        DeleteObject();
        m_hObject = hFont;
        return hFont != nullptr;
    }
    void DeleteObject() {
        if (m_hObject != nullptr)
            ::DeleteObject(m_hObject);
        m_hObject = nullptr;
    }
    operator HFONT() const { return m_hObject; }

    HFONT m_hObject = nullptr;
};
