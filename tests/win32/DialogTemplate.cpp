#include "tests/win32/DialogTemplate.h"

#include <cstring>

namespace {
class Reader {
public:
    explicit Reader(const BYTE* p) : m_p(p), m_start(p) {}

    WORD Word() {
        WORD value;
        std::memcpy(&value, m_p, sizeof value);
        m_p += sizeof value;
        return value;
    }
    DWORD Dword() {
        DWORD value;
        std::memcpy(&value, m_p, sizeof value);
        m_p += sizeof value;
        return value;
    }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *m_p++; }

    // A zero-terminated UTF-16 string of ASCII text.
    std::string String() {
        std::string text;
        for (WORD c = Word(); c != 0; c = Word())
            text += static_cast<char>(c);
        return text;
    }
    // A string, an ordinal (0xFFFF, value) or nothing (0).
    std::string StringOrOrdinal() {
        WORD first;
        std::memcpy(&first, m_p, sizeof first);
        if (first == 0xFFFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return String();
    }
    void AlignDword() {
        while ((m_p - m_start) % 4 != 0)
            ++m_p;
    }

private:
    const BYTE* m_p;
    const BYTE* m_start;
};

std::string PredefinedClass(const std::string& ordinal) {
    static const char* const names[] = {"BUTTON",  "EDIT",      "STATIC",
                                        "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    if (ordinal.size() > 1 && ordinal[0] == '#') {
        const int atom = std::stoi(ordinal.substr(1));
        if (atom >= 0x80 && atom <= 0x85)
            return names[atom - 0x80];
    }
    return ordinal;
}
} // namespace

bool ReadDialogTemplate(int resourceId, DialogTemplate& out) {
    HMODULE hModule = ::GetModuleHandleA(nullptr);
    HRSRC hInfo = ::FindResourceA(hModule, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(5));
    if (hInfo == nullptr)
        return false;
    const BYTE* p = static_cast<const BYTE*>(::LockResource(::LoadResource(hModule, hInfo)));
    Reader r(p);
    out = DialogTemplate{};
    WORD count = 0;
    if (r.Word() == 1 && r.Word() == 0xFFFF) {
        out.extended = true;
        out.helpId = r.Dword();
        out.exStyle = r.Dword();
        out.style = r.Dword();
    } else {
        r = Reader(p);
        out.style = r.Dword();
        out.exStyle = r.Dword();
    }
    count = r.Word();
    out.x = r.Short();
    out.y = r.Short();
    out.cx = r.Short();
    out.cy = r.Short();
    out.menu = r.StringOrOrdinal();
    out.className = r.StringOrOrdinal();
    out.caption = r.String();
    if (out.style & DS_SETFONT) {
        out.pointSize = r.Word();
        if (out.extended) {
            out.weight = r.Word();
            out.italic = r.Byte();
            out.charset = r.Byte();
        }
        out.typeface = r.String();
    }
    for (WORD i = 0; i < count; ++i) {
        r.AlignDword();
        TemplateItem item;
        if (out.extended) {
            item.helpId = r.Dword();
            item.exStyle = r.Dword();
            item.style = r.Dword();
        } else {
            item.style = r.Dword();
            item.exStyle = r.Dword();
        }
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = out.extended ? static_cast<int>(r.Dword()) : static_cast<short>(r.Word());
        item.className = PredefinedClass(r.StringOrOrdinal());
        item.text = r.StringOrOrdinal();
        const WORD extra = r.Word();
        for (WORD b = 0; b < extra; ++b)
            r.Byte();
        out.items.push_back(item);
    }
    return true;
}
