#include "um/setupapi/infparser.h"

#include "um/kernel32/filepaths.h"
#include "um/modules.h"

#include <setupapi.h>

#include <cctype>

namespace umsim {
namespace {

constexpr size_t kMaxSectionName = 255;

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) c = char(tolower(uint8_t(c)));
    return lower;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// One logical line of the file, read from the text position onwards.
class LineReader {
public:
    LineReader(std::string_view text, size_t& pos, unsigned& lineNumber)
        : m_text(text), m_pos(pos), m_lineNumber(lineNumber)
    {
    }

    // Skips the rest of the physical line and its line break.
    void SkipToNextLine()
    {
        while (m_pos < m_text.size() && !IsLineEnd(m_text[m_pos])) ++m_pos;
        SkipLineBreak();
    }

    // Reads "[name]"; the text after the bracket is ignored.
    bool ReadSectionName(std::string* name, uint32_t* error)
    {
        size_t start = ++m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] != ']' && !IsLineEnd(m_text[m_pos])) ++m_pos;
        if (m_pos >= m_text.size() || m_text[m_pos] != ']') {
            *error = ERROR_BAD_SECTION_NAME_LINE;
            return false;
        }
        std::string_view raw = m_text.substr(start, m_pos - start);
        while (!raw.empty() && IsBlank(raw.front())) raw.remove_prefix(1);
        while (!raw.empty() && IsBlank(raw.back())) raw.remove_suffix(1);
        if (raw.size() > kMaxSectionName) {
            *error = ERROR_SECTION_NAME_TOO_LONG;
            return false;
        }
        *name = std::string(raw);
        SkipToNextLine();
        return true;
    }

    // Reads key and fields; false with ERROR_GENERAL_SYNTAX when a line
    // is longer than an INF string may be. An empty line gives no fields.
    bool ReadLine(InfLine* line, bool* empty)
    {
        bool sawSeparator = false;
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos];
            if (IsLineEnd(c)) break;
            if (c == ';') {
                while (m_pos < m_text.size() && !IsLineEnd(m_text[m_pos])) ++m_pos;
                break;
            }
            if (c == '\\' && ContinuesOnNextLine()) continue;
            ++m_pos;
            if (c == '"') {
                ReadQuoted();
            } else if (c == ',') {
                EndField(line);
                sawSeparator = true;
            } else if (c == '=' && !line->key && line->fields.empty()) {
                line->key = TakeToken();
                sawSeparator = true;
            } else if (!IsBlank(c) || !m_token.empty() || m_started) {
                Append(c);
            }
            if (m_length > MAX_INF_STRING_LENGTH) return false;
        }
        SkipLineBreak();
        *empty = !sawSeparator && !m_started && m_token.empty();
        if (*empty) return true;
        EndField(line);
        // A lone value is its own key, so a key search finds it.
        if (!line->key && line->fields.size() == 1) line->key = line->fields[0];
        return true;
    }

private:
    // A backslash followed only by blanks or a comment joins the next line.
    bool ContinuesOnNextLine()
    {
        size_t look = m_pos + 1;
        while (look < m_text.size() && IsBlank(m_text[look])) ++look;
        if (look < m_text.size() && m_text[look] == ';') {
            while (look < m_text.size() && !IsLineEnd(m_text[look])) ++look;
        }
        if (look < m_text.size() && !IsLineEnd(m_text[look])) return false;
        m_pos = look;
        SkipLineBreak();
        return true;
    }

    // Inside quotes "" is one quote; an unclosed quote ends with the line.
    void ReadQuoted()
    {
        m_started = true;
        while (m_pos < m_text.size() && !IsLineEnd(m_text[m_pos])) {
            char c = m_text[m_pos++];
            if (c == '"') {
                if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                    ++m_pos;
                } else {
                    break;
                }
            }
            Append(c);
        }
        m_keep = m_token.size();
    }

    std::string TakeToken()
    {
        size_t end = m_token.size();
        while (end > m_keep && IsBlank(m_token[end - 1])) --end;
        std::string token = m_token.substr(0, end);
        m_token.clear();
        m_keep = 0;
        m_started = false;
        return token;
    }

    void Append(char c)
    {
        m_token.push_back(c);
        ++m_length;
    }

    void EndField(InfLine* line) { line->fields.push_back(TakeToken()); }

    void SkipLineBreak()
    {
        if (m_pos >= m_text.size()) return;
        if (m_text[m_pos] == '\r') ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '\n') ++m_pos;
        ++m_lineNumber;
    }

    std::string_view m_text;
    size_t& m_pos;
    unsigned& m_lineNumber;
    std::string m_token;
    size_t m_length = 0;     // characters kept on the whole line, bounded like an INF string
    size_t m_keep = 0;       // characters of the token that came from quotes and are never trimmed
    bool m_started = false;  // the token has quoted text, so blanks after it count
};

std::optional<std::string> DirectoryOfId(std::string_view id)
{
    if (id == "10") return std::string(kWindowsDirectory);
    if (id == "11") return std::string(kSystemDirectory);
    if (id == "12") return std::string(kSystemDirectory) + "\\drivers";
    if (id == "17") return std::string(kInfDirectory);
    return std::nullopt;
}

const std::string* StringsValue(const InfText& inf, std::string_view key)
{
    int strings = FindInfSection(inf, "Strings");
    if (strings < 0) return nullptr;
    static const std::string empty;
    for (const InfLine& line : inf.sections[size_t(strings)].lines) {
        if (line.key && EqualsNoCase(*line.key, key)) return line.fields.empty() ? &empty : &line.fields[0];
    }
    return nullptr;
}

}  // namespace

int FindInfSection(const InfText& inf, std::string_view name)
{
    auto found = inf.byLowerName.find(Lower(name));
    return found == inf.byLowerName.end() ? -1 : int(found->second);
}

std::optional<InfText> ParseInf(std::string_view text, InfSyntaxError* error)
{
    InfText inf;
    InfSection* section = nullptr;
    size_t pos = 0;
    unsigned lineNumber = 1;
    auto fail = [&](uint32_t code, unsigned line) {
        *error = {code, line};
        return std::nullopt;
    };
    while (pos < text.size()) {
        unsigned startLine = lineNumber;
        while (pos < text.size() && IsBlank(text[pos])) ++pos;
        LineReader reader(text, pos, lineNumber);
        if (pos < text.size() && text[pos] == '[') {
            std::string name;
            uint32_t code = 0;
            if (!reader.ReadSectionName(&name, &code)) return fail(code, startLine);
            auto [found, added] = inf.byLowerName.try_emplace(Lower(name), inf.sections.size());
            if (added) inf.sections.push_back({name, {}});
            section = &inf.sections[found->second];
            continue;
        }
        InfLine line;
        line.number = startLine;
        bool empty = false;
        if (!reader.ReadLine(&line, &empty)) return fail(ERROR_GENERAL_SYNTAX, startLine);
        if (empty) continue;
        if (!section) return fail(ERROR_EXPECTED_SECTION_NAME, startLine);
        section->lines.push_back(std::move(line));
    }
    return inf;
}

std::optional<std::string> SubstituteInfStrings(const InfText& inf, std::string_view field, size_t maxLength)
{
    std::string out;
    size_t i = 0;
    while (i < field.size()) {
        size_t open = field.find('%', i);
        size_t close = open == std::string_view::npos ? open : field.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(field.substr(i));
            break;
        }
        out.append(field.substr(i, open - i));
        std::string_view name = field.substr(open + 1, close - open - 1);
        if (name.empty()) {
            out.push_back('%');
        } else if (const std::string* value = StringsValue(inf, name)) {
            out.append(*value);
        } else if (auto directory = DirectoryOfId(name)) {
            out.append(*directory);
        } else {
            out.append(field.substr(open, close - open + 1));
        }
        i = close + 1;
        if (out.size() > maxLength) return std::nullopt;
    }
    if (out.size() > maxLength) return std::nullopt;
    return out;
}

}  // namespace umsim
