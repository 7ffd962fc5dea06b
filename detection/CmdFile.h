#pragma once
// Reader of the small "name value" text files that describe the multi-view detector.
#include <string>
#include <vector>

#include "visionlib/Object.h"

namespace vision {

// The whitespace-separated words of a text file, of any length; the last one counts even without
// white space after it. A file that cannot be opened is fatal.
std::vector<std::string> readFileWords(const char* path);

enum CmdEntryType { CMD_INT = 0, CMD_BOOL = 1, CMD_STRING = 2, CMD_REAL = 3 };
enum CmdEntryKind { CMD_TEXT = 0, CMD_OPTION = 1, CMD_PARAMETER = 2 };

struct CmdEntry {
    char* name;     // copy
    char* help;     // copy
    void* address;  // the bound variable
    int type;       // CmdEntryType
    int kind;       // CmdEntryKind
    bool first;     // element 0 of an array registered at once
};

// Entries are registered first (options with defaults, mandatory parameters, text lines for the
// help), then read() sets each bound variable from the file. Strings read through it live as long
// as the CmdFile.
class CmdFile : public Object {
public:
    int n_entries;
    int n_parameters;
    CmdEntry* entries;
    char* info_text;  // title of the printed help, none at first
    int n_tokens;
    char** tokens;  // name, value (none when the name closed the file), name, value, ...

    CmdFile();

    void addText(const char* text);

    void addIntOption(const char* name, int* ptr, int init, const char* help = "");
    void addBoolOption(const char* name, bool* ptr, bool init, const char* help = "");
    void addRealOption(const char* name, real* ptr, real init, const char* help = "");
    void addStringOption(const char* name, char** ptr, const char* init, const char* help = "");

    void addIntParameter(const char* name, int* ptr, const char* help = "");
    void addBoolParameter(const char* name, bool* ptr, const char* help = "");
    void addRealParameter(const char* name, real* ptr, const char* help = "");
    void addStringParameter(const char* name, char** ptr, const char* help = "");

    // format holds one "%d" for the index: "name[%d]" gives "name[0]", "name[1]", ...
    void addIntOptionArray(const char* format, int** ptr, int init, const char* help, int n);
    void addBoolOptionArray(const char* format, bool** ptr, bool init, const char* help, int n);
    void addRealOptionArray(const char* format, real** ptr, real init, const char* help, int n);
    void addStringOptionArray(const char* format, char*** ptr, const char* init, const char* help, int n);
    void addIntParameterArray(const char* format, int** ptr, const char* help, int n);
    void addBoolParameterArray(const char* format, bool** ptr, const char* help, int n);
    void addRealParameterArray(const char* format, real** ptr, const char* help, int n);
    void addStringParameterArray(const char* format, char*** ptr, const char* help, int n);

    void info(const char* title);

    // Reads the words of the file and sets the variables; with check, unknown names are fatal.
    void read(const char* path, bool check);
    // Sets the variables again from the words already read (for entries registered after read).
    void setValues();
    void print();

private:
    int entry_capacity;  // entries grow geometrically: a long model list registers thousands
    char* copyText(const char* text);
    char* indexedName(const char* format, int i);
    CmdEntry& addEntry(const char* name, void* address, int type, int kind, const char* help);
    void clearTokens();
    void applyValues(bool check);
    void setValue(CmdEntry& e, const char* value);
};

}  // namespace vision
