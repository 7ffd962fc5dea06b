#pragma once
// Root of the library's classes: named typed options and an allocator that owns what the object allocates.
#include <cstddef>

namespace vision {

// The library's element type: options, sequences, models and images are all 32-bit floats.
typedef float real;

class Allocator;
class XFile;

// Declared type of an option; the setters refuse a value of another type.
enum OptionType { OPTION_RAW = 0, OPTION_INT, OPTION_REAL, OPTION_BOOL, OPTION_OBJECT };

struct OptionEntry {
    char* name;     // copy owned by the object's allocator
    char* help;     // copy owned likewise
    int size;       // width of the member in bytes
    void* address;  // the member holding the value
    int type;       // OptionType
};

class Object {
public:
    int n_options;
    OptionEntry* options;
    Allocator* allocator;

    Object();
    virtual void loadXFile(XFile* file);
    virtual void saveXFile(XFile* file);
    virtual ~Object();

    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // An option without a declared type: only the untyped setOption may set it.
    void addOption(const char* name, int size, void* address, const char* help = "");
    void addIntOption(const char* name, int* member, int init, const char* help = "");
    void addRealOption(const char* name, real* member, real init, const char* help = "");
    void addBoolOption(const char* name, bool* member, bool init, const char* help = "");
    void addObjectOption(const char* name, Object** member, Object* init, const char* help = "");

    // First entry with that exact name wins. Unknown names and type mismatches are fatal.
    void setOption(const char* name, const void* value);
    void setOption(const char* name, const int* value);
    void setOption(const char* name, const real* value);
    void setOption(const char* name, const bool* value);
    void setOption(const char* name, Object* const* value);
    void setIntOption(const char* name, int value);
    void setRealOption(const char* name, real value);
    void setBoolOption(const char* name, bool value);
    void setObjectOption(const char* name, Object* value);

    // Open path as a DiskXFile ("r" / "w") and run loadXFile / saveXFile on it; failure to open is fatal.
    void load(const char* path);
    void save(const char* path);

    // With an allocator the object is owned by it (kind 1); without, plain memory the caller deletes.
    static void* operator new(size_t size, Allocator* allocator = nullptr);
    // Placement in memory owned elsewhere: the allocator only runs the destructor (kind 2).
    static void* operator new(size_t size, Allocator* allocator, void* memory);
    static void operator delete(void* memory);
    // Matching forms, used only when a constructor fails part-way.
    static void operator delete(void* memory, Allocator* allocator);
    static void operator delete(void* memory, Allocator* allocator, void* where);

private:
    OptionEntry* findOption(const char* name);
    void addTypedOption(const char* name, int size, void* address, const char* help, int type);
    void setTypedOption(const char* name, const void* value, int type);
};

}  // namespace vision
