#include "detection/CmdFile.h"

#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "visionlib/Allocator.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Message.h"

namespace vision {

namespace {

const char* typeName(int type) {
    switch (type) {
        case CMD_INT: return "<int>";
        case CMD_STRING: return "<string>";
        case CMD_REAL: return "<real>";
        default: return "";
    }
}

// Numbers in these files are written with a full stop whatever the user's locale.
double parseReal(const char* text) {
    static locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", (locale_t)0);
    return strtod_l(text, nullptr, c_locale);
}

}  // namespace

CmdFile::CmdFile()
    : n_entries(0),
      n_parameters(0),
      entries(nullptr),
      info_text(nullptr),
      n_tokens(0),
      tokens(nullptr),
      entry_capacity(0) {}

char* CmdFile::copyText(const char* text) {
    if (text == nullptr) text = "";
    const size_t n = std::strlen(text) + 1;
    char* copy = (char*)allocator->alloc((long)n);
    std::memcpy(copy, text, n);
    return copy;
}

char* CmdFile::indexedName(const char* format, int i) {
    const int n = std::snprintf(nullptr, 0, format, i);
    if (n < 0) error("CmdFile: wrong format");
    char* name = (char*)allocator->alloc(n + 1);
    std::snprintf(name, n + 1, format, i);
    return name;
}

CmdEntry& CmdFile::addEntry(const char* name, void* address, int type, int kind, const char* help) {
    if (n_entries == entry_capacity) {
        entry_capacity = entry_capacity < 16 ? 16 : 2 * entry_capacity;
        entries = (CmdEntry*)allocator->realloc(entries, (long)sizeof(CmdEntry) * entry_capacity);
    }
    CmdEntry& e = entries[n_entries++];
    e.name = copyText(name);
    e.help = copyText(help);
    e.address = address;
    e.type = type;
    e.kind = kind;
    e.first = false;
    if (kind == CMD_PARAMETER) n_parameters++;
    return e;
}

void CmdFile::addText(const char* text) { addEntry(text, nullptr, CMD_INT, CMD_TEXT, ""); }

void CmdFile::addIntOption(const char* name, int* ptr, int init, const char* help) {
    *ptr = init;
    addEntry(name, ptr, CMD_INT, CMD_OPTION, help);
}

void CmdFile::addBoolOption(const char* name, bool* ptr, bool init, const char* help) {
    *ptr = init;
    addEntry(name, ptr, CMD_BOOL, CMD_OPTION, help);
}

void CmdFile::addRealOption(const char* name, real* ptr, real init, const char* help) {
    *ptr = init;
    addEntry(name, ptr, CMD_REAL, CMD_OPTION, help);
}

void CmdFile::addStringOption(const char* name, char** ptr, const char* init, const char* help) {
    *ptr = copyText(init);
    addEntry(name, ptr, CMD_STRING, CMD_OPTION, help);
}

void CmdFile::addIntParameter(const char* name, int* ptr, const char* help) {
    addEntry(name, ptr, CMD_INT, CMD_PARAMETER, help);
}

void CmdFile::addBoolParameter(const char* name, bool* ptr, const char* help) {
    addEntry(name, ptr, CMD_BOOL, CMD_PARAMETER, help);
}

void CmdFile::addRealParameter(const char* name, real* ptr, const char* help) {
    addEntry(name, ptr, CMD_REAL, CMD_PARAMETER, help);
}

void CmdFile::addStringParameter(const char* name, char** ptr, const char* help) {
    *ptr = nullptr;
    addEntry(name, ptr, CMD_STRING, CMD_PARAMETER, help);
}

namespace {

template <class T, class Init>
T* registerArray(CmdFile* cmd, Allocator* allocator, const char* format, int n, int type, int kind,
                 const char* help, Init init, char* (CmdFile::*name)(const char*, int),
                 CmdEntry& (CmdFile::*add)(const char*, void*, int, int, const char*)) {
    if (n <= 0) return nullptr;
    T* array = (T*)allocator->alloc((long)sizeof(T) * n);
    for (int i = 0; i < n; i++) {
        init(array[i]);
        char* entryName = (cmd->*name)(format, i);
        CmdEntry& e = (cmd->*add)(entryName, &array[i], type, kind, help);
        e.first = i == 0;
        allocator->free(entryName);
    }
    return array;
}

}  // namespace

#define CMD_ARRAY(T, TYPE, KIND, INIT)                                                                   \
    registerArray<T>(this, allocator, format, n, TYPE, KIND, help, INIT, &CmdFile::indexedName, \
                     &CmdFile::addEntry)

void CmdFile::addIntOptionArray(const char* format, int** ptr, int init, const char* help, int n) {
    *ptr = CMD_ARRAY(int, CMD_INT, CMD_OPTION, [&](int& v) { v = init; });
}

void CmdFile::addBoolOptionArray(const char* format, bool** ptr, bool init, const char* help, int n) {
    *ptr = CMD_ARRAY(bool, CMD_BOOL, CMD_OPTION, [&](bool& v) { v = init; });
}

void CmdFile::addRealOptionArray(const char* format, real** ptr, real init, const char* help, int n) {
    *ptr = CMD_ARRAY(real, CMD_REAL, CMD_OPTION, [&](real& v) { v = init; });
}

void CmdFile::addStringOptionArray(const char* format, char*** ptr, const char* init, const char* help, int n) {
    *ptr = CMD_ARRAY(char*, CMD_STRING, CMD_OPTION, [&](char*& v) { v = copyText(init); });
}

void CmdFile::addIntParameterArray(const char* format, int** ptr, const char* help, int n) {
    *ptr = CMD_ARRAY(int, CMD_INT, CMD_PARAMETER, [](int& v) { v = 0; });
}

void CmdFile::addBoolParameterArray(const char* format, bool** ptr, const char* help, int n) {
    *ptr = CMD_ARRAY(bool, CMD_BOOL, CMD_PARAMETER, [](bool& v) { v = false; });
}

void CmdFile::addRealParameterArray(const char* format, real** ptr, const char* help, int n) {
    *ptr = CMD_ARRAY(real, CMD_REAL, CMD_PARAMETER, [](real& v) { v = 0; });
}

void CmdFile::addStringParameterArray(const char* format, char*** ptr, const char* help, int n) {
    *ptr = CMD_ARRAY(char*, CMD_STRING, CMD_PARAMETER, [](char*& v) { v = nullptr; });
}

#undef CMD_ARRAY

void CmdFile::info(const char* title) {
    if (info_text) allocator->free(info_text);
    info_text = copyText(title);
}

void CmdFile::clearTokens() {
    for (int i = 0; i < n_tokens; i++)
        if (tokens[i]) allocator->free(tokens[i]);
    if (tokens) allocator->free(tokens);
    tokens = nullptr;
    n_tokens = 0;
}

std::vector<std::string> readFileWords(const char* path) {
    DiskXFile file(path, "r");
    std::vector<std::string> words;
    std::string word;
    char buffer[4096];
    int got;
    while ((got = file.read(buffer, 1, (int)sizeof buffer)) > 0) {
        for (int i = 0; i < got; i++) {
            const unsigned char c = (unsigned char)buffer[i];
            if (!std::isspace(c)) {
                word.push_back((char)c);
            } else if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

void CmdFile::read(const char* path, bool check) {
    const std::vector<std::string> words = readFileWords(path);
    clearTokens();
    tokens = (char**)allocator->alloc((long)sizeof(char*) * ((long)words.size() + 2));
    // Name and value alternate; a commented-out name takes its value with it.
    for (size_t i = 0; i < words.size(); i += 2) {
        if (words[i][0] == '#') continue;
        tokens[n_tokens++] = copyText(words[i].c_str());
        tokens[n_tokens++] = i + 1 < words.size() ? copyText(words[i + 1].c_str()) : nullptr;
    }
    applyValues(check);
}

void CmdFile::setValues() {
    if (n_tokens == 0) error("CmdFile: Parameters not loaded");
    applyValues(true);
}

void CmdFile::applyValues(bool check) {
    // Names looked up by hashing: a list of many models has as many entries as words, and pairing
    // each word with each entry took minutes.
    std::unordered_map<std::string_view, int> first_entry;
    first_entry.reserve((size_t)n_entries);
    for (int i = 0; i < n_entries; i++)
        if (entries[i].kind != CMD_TEXT) first_entry.emplace(entries[i].name, i);
    std::unordered_set<std::string_view> names;
    names.reserve((size_t)n_tokens);
    for (int t = 0; t < n_tokens; t += 2) names.insert(tokens[t]);

    for (int i = 0; i < n_entries; i++) {
        if (entries[i].kind != CMD_PARAMETER) continue;
        if (names.count(entries[i].name) == 0) error("CmdFile: parameter <%s> not found", entries[i].name);
    }
    if (check) {
        for (int t = 0; t < n_tokens; t += 2)
            if (first_entry.count(tokens[t]) == 0) error("CmdFile: <%s> option or parameter incorrect", tokens[t]);
    }
    for (int t = 0; t < n_tokens; t += 2) {
        const auto found = first_entry.find(tokens[t]);
        if (found != first_entry.end()) setValue(entries[found->second], tokens[t + 1]);
    }
}

void CmdFile::setValue(CmdEntry& e, const char* value) {
    if (e.type < CMD_INT || e.type > CMD_REAL) error("CmdFile: wrong format");
    if (value == nullptr) {
        // A name that closed the file has no value; a bool is treated like any other type here.
        if (e.kind == CMD_OPTION) error("CmdFile: cannot correctly set option <%s>", e.name);
        error("CmdFile: cannot correctly argument <%s>", e.name);
    }
    switch (e.type) {
        case CMD_INT: *(int*)e.address = std::atoi(value); break;
        case CMD_REAL: *(real*)e.address = (real)parseReal(value); break;
        case CMD_STRING: {
            char** target = (char**)e.address;
            if (*target && allocator->owns(*target)) allocator->free(*target);
            *target = copyText(value);
            break;
        }
        case CMD_BOOL:
            if (std::strcmp(value, "true") == 0) {
                *(bool*)e.address = true;
            } else {
                if (std::strcmp(value, "false") != 0) warning("CmdFile: Incorrect bool value <%s> set to false", value);
                *(bool*)e.address = false;
            }
            break;
    }
}

void CmdFile::print() {
    if (info_text) vision::print("\n#### %s ####\n", info_text);
    size_t widest = 0;
    for (int i = 0; i < n_entries; i++) {
        const CmdEntry& e = entries[i];
        if (e.kind == CMD_TEXT) continue;
        const size_t w = std::strlen(e.name) + (e.kind == CMD_OPTION ? std::strlen(typeName(e.type)) + 1 : 2);
        if (w > widest) widest = w;
    }
    for (int i = 0; i < n_entries; i++) {
        const CmdEntry& e = entries[i];
        if (e.kind == CMD_TEXT) {
            vision::print("%s\n", e.name);
            continue;
        }
        const char* type = typeName(e.type);
        std::string line = std::string("  ") + e.name + " " + type;
        const size_t column = widest + 1 + 2;  // past the two leading blanks
        if (line.size() < column) line.append(column - line.size(), ' ');
        line += "-> ";
        line += e.help;
        char value[64] = "";
        if (e.kind == CMD_OPTION) {
            switch (e.type) {
                case CMD_INT: std::snprintf(value, sizeof value, " [%d]", *(int*)e.address); break;
                case CMD_REAL: std::snprintf(value, sizeof value, " [%g]", (double)*(real*)e.address); break;
                case CMD_STRING: {
                    const char* s = *(char**)e.address;
                    line += " [";
                    line += s ? s : "";
                    line += "]";
                    break;
                }
                default: break;
            }
        } else {
            std::snprintf(value, sizeof value, " (%s)", type);
        }
        line += value;
        vision::print("%s\n", line.c_str());
    }
}

}  // namespace vision
