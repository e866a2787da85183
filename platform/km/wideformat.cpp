// Bounded wide-character formatting with the Windows rules: -1 when the
// output does not fit, and a terminator only when there is room for it.
#include <wdm.h>

#include <cstring>
#include <string>

namespace {

struct FieldFormat {
    bool leftAlign = false;
    bool zeroPad = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;
};

enum class Length { Default, Short, Long, LongLong, Size };

void Pad(std::u16string& out, size_t count, char16_t c) { out.append(count, c); }

void EmitField(std::u16string& out, const std::u16string& body, const FieldFormat& field)
{
    size_t width = field.width > 0 ? size_t(field.width) : 0;
    if (body.size() >= width) {
        out += body;
    } else if (field.leftAlign) {
        out += body;
        Pad(out, width - body.size(), u' ');
    } else {
        Pad(out, width - body.size(), u' ');
        out += body;
    }
}

void EmitInteger(std::u16string& out, unsigned long long magnitude, bool negative, unsigned base, bool upper,
                 const FieldFormat& field)
{
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string number;
    do {
        number.insert(number.begin(), char16_t(digits[magnitude % base]));
        magnitude /= base;
    } while (magnitude);
    // An explicit precision of 0 prints nothing for 0.
    if (field.precision == 0 && number == u"0") number.clear();
    if (field.precision > 0 && number.size() < size_t(field.precision)) {
        number.insert(0, size_t(field.precision) - number.size(), u'0');
    }
    std::u16string prefix;
    if (negative) {
        prefix = u"-";
    } else if (field.plus && base == 10) {
        prefix = u"+";
    } else if (field.space && base == 10) {
        prefix = u" ";
    }
    if (field.alternate && base == 16 && !number.empty() && number != u"0") prefix += upper ? u"0X" : u"0x";
    if (field.zeroPad && !field.leftAlign && field.precision < 0) {
        size_t width = field.width > 0 ? size_t(field.width) : 0;
        if (prefix.size() + number.size() < width) number.insert(0, width - prefix.size() - number.size(), u'0');
    }
    EmitField(out, prefix + number, field);
}

template <typename Char>
std::u16string TakeString(const Char* text, int precision)
{
    std::u16string body;
    if (!text) {
        body = u"(null)";
    } else {
        for (size_t i = 0; text[i] && (precision < 0 || i < size_t(precision)); ++i) {
            // Narrow text is taken byte by byte as Latin-1.
            body += char16_t(static_cast<std::make_unsigned_t<Char>>(text[i]));
        }
    }
    if (precision >= 0 && body.size() > size_t(precision)) body.resize(size_t(precision));
    return body;
}

std::u16string FormatWide(const WCHAR* format, va_list args)
{
    std::u16string out;
    for (const WCHAR* p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            out += u'%';
            continue;
        }
        FieldFormat field;
        for (;; ++p) {
            if (*p == u'-') {
                field.leftAlign = true;
            } else if (*p == u'0') {
                field.zeroPad = true;
            } else if (*p == u'+') {
                field.plus = true;
            } else if (*p == u' ') {
                field.space = true;
            } else if (*p == u'#') {
                field.alternate = true;
            } else {
                break;
            }
        }
        if (*p == u'*') {
            field.width = va_arg(args, int);
            if (field.width < 0) {
                field.leftAlign = true;
                field.width = -field.width;
            }
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') field.width = field.width * 10 + (*p++ - u'0');
        }
        if (*p == u'.') {
            ++p;
            field.precision = 0;
            if (*p == u'*') {
                field.precision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= u'0' && *p <= u'9') field.precision = field.precision * 10 + (*p++ - u'0');
            }
        }
        Length length = Length::Default;
        if (*p == u'h') {
            length = Length::Short;
            ++p;
        } else if (*p == u'l') {
            length = Length::Long;
            ++p;
            if (*p == u'l') {
                length = Length::LongLong;
                ++p;
            }
        } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
            length = Length::LongLong;
            p += 3;
        } else if (*p == u'z' || *p == u'I') {
            length = Length::Size;
            ++p;
        }
        auto signedArg = [&]() -> long long {
            switch (length) {
            case Length::LongLong: return va_arg(args, long long);
            case Length::Size: return (long long)va_arg(args, intptr_t);
            case Length::Short: return (short)va_arg(args, int);
            default: return va_arg(args, int);  // long is 32-bit on Windows
            }
        };
        auto unsignedArg = [&]() -> unsigned long long {
            switch (length) {
            case Length::LongLong: return va_arg(args, unsigned long long);
            case Length::Size: return (unsigned long long)va_arg(args, uintptr_t);
            case Length::Short: return (unsigned short)va_arg(args, unsigned);
            default: return va_arg(args, unsigned);
            }
        };
        switch (*p) {
        case u'd':
        case u'i': {
            long long value = signedArg();
            EmitInteger(out, value < 0 ? 0ULL - (unsigned long long)value : (unsigned long long)value, value < 0, 10,
                         false, field);
            break;
        }
        case u'u': EmitInteger(out, unsignedArg(), false, 10, false, field); break;
        case u'x': EmitInteger(out, unsignedArg(), false, 16, false, field); break;
        case u'X': EmitInteger(out, unsignedArg(), false, 16, true, field); break;
        case u'o': EmitInteger(out, unsignedArg(), false, 8, false, field); break;
        case u'p': {
            FieldFormat pointer;
            pointer.zeroPad = true;
            pointer.width = int(2 * sizeof(void*));
            EmitInteger(out, (uintptr_t)va_arg(args, void*), false, 16, true, pointer);
            break;
        }
        case u'c':
        case u'C': {
            // %c is wide in wide formatting, %hc and %C narrow.
            bool narrow = *p == u'C' || length == Length::Short;
            int value = va_arg(args, int);
            std::u16string body(1, narrow ? char16_t((unsigned char)value) : char16_t(value));
            EmitField(out, body, field);
            break;
        }
        case u's':
        case u'S': {
            // %s and %ls are wide; %S and %hs narrow.
            bool narrow = (*p == u'S' && length != Length::Long) || length == Length::Short;
            std::u16string body = narrow ? TakeString(va_arg(args, const char*), field.precision)
                                         : TakeString(va_arg(args, const WCHAR*), field.precision);
            EmitField(out, body, field);
            break;
        }
        case 0:
            return out;  // a lone '%' at the end
        default:
            // Unknown conversions are copied as they stand.
            out += u'%';
            out += *p;
            break;
        }
    }
    return out;
}

}  // namespace

int _vsnwprintf(WCHAR* Buffer, size_t Count, const WCHAR* Format, va_list Args)
{
    if (!Format || (!Buffer && Count)) return -1;
    va_list copy;
    va_copy(copy, Args);
    std::u16string text = FormatWide(Format, copy);
    va_end(copy);
    // No buffer at all: a size query, answered with the length needed.
    if (!Buffer) return int(text.size());
    size_t written = text.size() < Count ? text.size() : Count;
    if (written) memcpy(Buffer, text.data(), written * sizeof(WCHAR));
    if (text.size() < Count) Buffer[text.size()] = 0;
    return text.size() <= Count ? int(text.size()) : -1;
}

int _snwprintf(WCHAR* Buffer, size_t Count, const WCHAR* Format, ...)
{
    va_list args;
    va_start(args, Format);
    int result = _vsnwprintf(Buffer, Count, Format, args);
    va_end(args);
    return result;
}
