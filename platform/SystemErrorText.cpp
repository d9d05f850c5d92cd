#include "platform/SystemErrorText.h"

CString SystemErrorText(DWORD nError) {
    char text[512] = {};
    DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         nError, 0, text, static_cast<DWORD>(sizeof text), nullptr);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                          text[length - 1] == '.' || text[length - 1] == ' '))
        --length;
    if (length == 0)
        return FormatString("error %lu", static_cast<unsigned long>(nError));
    return CString(text, length);
}
