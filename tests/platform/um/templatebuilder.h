// Dialog templates in memory, in either published form, for tests that
// need a template the resource compiler did not make.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TemplateBuilder {
public:
    TemplateBuilder(bool extended, uint32_t style, int16_t cx, int16_t cy, std::u16string caption)
        : m_extended(extended)
    {
        if (extended) {
            Word(1), Word(0xFFFF), Dword(0), Dword(0), Dword(style);
        } else {
            Dword(style), Dword(0);
        }
        m_countAt = m_bytes.size();
        Word(0), Word(0), Word(0), Word(uint16_t(cx)), Word(uint16_t(cy));
        Word(0), Word(0), Text(caption);  // no menu, the standard dialog class
        if (style & 0x40) {               // DS_SETFONT
            Word(8);
            if (extended) Word(400), Word(0);
            Text(u"MS Shell Dlg");
        }
    }

    // classOrdinal 0x80 button, 0x81 edit, 0x82 static, 0x85 combo box;
    // 0 names the class by className.
    TemplateBuilder& Add(uint32_t style, int16_t x, int16_t y, int16_t cx, int16_t cy, uint16_t id,
                         uint16_t classOrdinal, std::u16string title, std::u16string className = u"")
    {
        while (m_bytes.size() % 4) m_bytes.push_back(0);
        if (m_extended) {
            Dword(0), Dword(0), Dword(style | 0x50000000);  // WS_CHILD | WS_VISIBLE
        } else {
            Dword(style | 0x50000000), Dword(0);
        }
        Word(uint16_t(x)), Word(uint16_t(y)), Word(uint16_t(cx)), Word(uint16_t(cy));
        m_extended ? Dword(id) : Word(id);
        if (classOrdinal) {
            Word(0xFFFF), Word(classOrdinal);
        } else {
            Text(className);
        }
        Text(title);
        Word(0);  // no creation data
        ++m_count;
        m_bytes[m_countAt] = uint8_t(m_count);
        m_bytes[m_countAt + 1] = uint8_t(m_count >> 8);
        return *this;
    }

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    void Word(uint16_t v)
    {
        m_bytes.push_back(uint8_t(v));
        m_bytes.push_back(uint8_t(v >> 8));
    }
    void Dword(uint32_t v) { Word(uint16_t(v)), Word(uint16_t(v >> 16)); }
    void Text(const std::u16string& text)
    {
        for (char16_t c : text) Word(c);
        Word(0);
    }

    bool m_extended;
    std::vector<uint8_t> m_bytes;
    size_t m_countAt = 0;
    uint16_t m_count = 0;
};
