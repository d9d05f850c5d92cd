#include "platform/SaveFileDialog.h"

SAVE_FILE_NAME_FUNCTION g_pfnGetSaveFileName = &::GetSaveFileNameA;

bool AskSaveFileName(HWND hOwner, const SaveFileQuestion& question, CString& path,
                     int* pFilterIndex) {
    char file[MAX_PATH] = {};
    question.defaultName.copy(file, sizeof file - 1);
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hOwner;
    ofn.lpstrFilter = question.pszFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrTitle = question.pszTitle;
    ofn.lpstrDefExt = question.pszDefaultExtension;
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!g_pfnGetSaveFileName(&ofn))
        return false;
    path = file;
    if (pFilterIndex != nullptr)
        *pFilterIndex = static_cast<int>(ofn.nFilterIndex);
    return true;
}
