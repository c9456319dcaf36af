// printf-style formatting into UTF-16 buffers, for messages built by the
// system (error boxes and the like).
#include <cstdio>
#include <string>

#include "win/wcs.h"

namespace {

struct Field {
    std::string flags;
    int width = -1;
    int precision = -1;
    char length = 0;  // 'h', 'l', 'L' (ll) or 0
    WCHAR conversion = 0;
};

const WCHAR* ParseField(const WCHAR* p, va_list& args, Field* field) {
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') field->flags += static_cast<char>(*p++);
    if (*p == u'*') {
        field->width = va_arg(args, int);
        ++p;
    } else if (*p >= u'0' && *p <= u'9') {
        field->width = 0;
        while (*p >= u'0' && *p <= u'9') field->width = field->width * 10 + (*p++ - u'0');
    }
    if (*p == u'.') {
        ++p;
        field->precision = 0;
        if (*p == u'*') {
            field->precision = va_arg(args, int);
            ++p;
        } else {
            while (*p >= u'0' && *p <= u'9') field->precision = field->precision * 10 + (*p++ - u'0');
        }
    }
    if (*p == u'h') {
        field->length = 'h';
        ++p;
    } else if (*p == u'l') {
        field->length = 'l';
        if (*++p == u'l') {
            field->length = 'L';
            ++p;
        }
    } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
        field->length = 'L';
        p += 3;
    }
    field->conversion = *p;
    return *p ? p + 1 : p;
}

void Pad(std::u16string& out, const Field& field, std::u16string_view text) {
    size_t width = field.width > 0 ? static_cast<size_t>(field.width) : 0;
    bool left = field.flags.find('-') != std::string::npos;
    if (!left && text.size() < width) out.append(width - text.size(), u' ');
    out.append(text);
    if (left && text.size() < width) out.append(width - text.size(), u' ');
}

// Integers and characters go through the C library's narrow formatting.
void FormatNumber(std::u16string& out, const Field& field, va_list& args) {
    std::string format = "%" + field.flags;
    if (field.width >= 0) format += std::to_string(field.width);
    if (field.precision >= 0) format += "." + std::to_string(field.precision);
    char buffer[128];
    char conv = static_cast<char>(field.conversion);
    bool isSigned = conv == 'd' || conv == 'i';
    if (field.length == 'L') {
        format += "ll";
        format += conv;
        if (isSigned) snprintf(buffer, sizeof buffer, format.c_str(), va_arg(args, long long));
        else snprintf(buffer, sizeof buffer, format.c_str(), va_arg(args, unsigned long long));
    } else {
        // int and long are both 32 bits on the device.
        format += conv;
        if (isSigned) snprintf(buffer, sizeof buffer, format.c_str(), va_arg(args, int));
        else snprintf(buffer, sizeof buffer, format.c_str(), va_arg(args, unsigned int));
    }
    for (const char* c = buffer; *c; ++c) out += static_cast<WCHAR>(*c);
}

}  // namespace

int _vsnwprintf(WCHAR* buf, size_t count, const WCHAR* fmt, va_list args) {
    std::u16string out;
    va_list ap;
    va_copy(ap, args);
    for (const WCHAR* p = fmt; *p;) {
        if (*p != u'%') {
            out += *p++;
            continue;
        }
        Field field;
        p = ParseField(p + 1, ap, &field);
        switch (field.conversion) {
            case u'%': out += u'%'; break;
            case u'c': Pad(out, field, std::u16string(1, static_cast<WCHAR>(va_arg(ap, int)))); break;
            case u's':
            case u'S': {
                std::u16string text;
                if (field.length == 'h') {
                    const char* s = va_arg(ap, const char*);
                    for (; s && *s; ++s) text += static_cast<WCHAR>(static_cast<unsigned char>(*s));
                    if (!s) text = u"(null)";
                } else {
                    const WCHAR* s = va_arg(ap, const WCHAR*);
                    text = s ? s : u"(null)";
                }
                if (field.precision >= 0 && text.size() > static_cast<size_t>(field.precision)) text.resize(field.precision);
                Pad(out, field, text);
                break;
            }
            case u'd': case u'i': case u'u': case u'x': case u'X': case u'o':
                FormatNumber(out, field, ap);
                break;
            default:  // unknown conversion: copied as it stands
                out += u'%';
                if (field.conversion) out += field.conversion;
                break;
        }
    }
    va_end(ap);
    if (count == 0) return -1;
    size_t n = out.size() < count ? out.size() : count - 1;
    out.copy(buf, n);
    buf[n] = 0;
    return n == out.size() ? static_cast<int>(n) : -1;
}

int _snwprintf(WCHAR* buf, size_t count, const WCHAR* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = _vsnwprintf(buf, count, fmt, args);
    va_end(args);
    return n;
}
