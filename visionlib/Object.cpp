#include "visionlib/Object.h"

#include <cstdlib>
#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/DiskXFile.h"
#include "visionlib/Message.h"

namespace vision {

Object::Object() : n_options(0), options(nullptr), allocator(new Allocator) {}

Object::~Object() {
    delete allocator;
    allocator = nullptr;
}

void Object::loadXFile(XFile*) {}
void Object::saveXFile(XFile*) {}

static char* copyText(Allocator* allocator, const char* text) {
    if (!text) text = "";
    size_t len = strlen(text) + 1;
    char* copy = static_cast<char*>(allocator->alloc((long)len));
    memcpy(copy, text, len);
    return copy;
}

void Object::addTypedOption(const char* name, int size, void* address, const char* help, int type) {
    options = static_cast<OptionEntry*>(
        allocator->realloc(options, (long)sizeof(OptionEntry) * (n_options + 1)));
    OptionEntry& e = options[n_options++];
    e.name = copyText(allocator, name);
    e.help = copyText(allocator, help);
    e.size = size;
    e.address = address;
    e.type = type;
}

void Object::addOption(const char* name, int size, void* address, const char* help) {
    addTypedOption(name, size, address, help, OPTION_RAW);
}

void Object::addIntOption(const char* name, int* member, int init, const char* help) {
    *member = init;
    addTypedOption(name, sizeof(int), member, help, OPTION_INT);
}

void Object::addRealOption(const char* name, real* member, real init, const char* help) {
    *member = init;
    addTypedOption(name, sizeof(real), member, help, OPTION_REAL);
}

void Object::addBoolOption(const char* name, bool* member, bool init, const char* help) {
    *member = init;
    addTypedOption(name, sizeof(bool), member, help, OPTION_BOOL);
}

void Object::addObjectOption(const char* name, Object** member, Object* init, const char* help) {
    *member = init;
    addTypedOption(name, sizeof(Object*), member, help, OPTION_OBJECT);
}

OptionEntry* Object::findOption(const char* name) {
    for (int i = 0; i < n_options; i++)
        if (strcmp(options[i].name, name) == 0) return &options[i];
    error("Object: option doesn't exist: %s", name);
}

void Object::setTypedOption(const char* name, const void* value, int type) {
    OptionEntry* e = findOption(name);
    if (e->type != type) error("Object: option %s has another type", name);
    memcpy(e->address, value, (size_t)e->size);
}

void Object::setOption(const char* name, const void* value) { setTypedOption(name, value, OPTION_RAW); }
void Object::setOption(const char* name, const int* value) { setTypedOption(name, value, OPTION_INT); }
void Object::setOption(const char* name, const real* value) { setTypedOption(name, value, OPTION_REAL); }
void Object::setOption(const char* name, const bool* value) { setTypedOption(name, value, OPTION_BOOL); }
void Object::setOption(const char* name, Object* const* value) {
    setTypedOption(name, value, OPTION_OBJECT);
}
void Object::setIntOption(const char* name, int value) { setOption(name, &value); }
void Object::setRealOption(const char* name, real value) { setOption(name, &value); }
void Object::setBoolOption(const char* name, bool value) { setOption(name, &value); }
void Object::setObjectOption(const char* name, Object* value) { setOption(name, &value); }

void Object::load(const char* path) {
    DiskXFile file(path, "r");
    loadXFile(&file);
}

void Object::save(const char* path) {
    DiskXFile file(path, "w");
    saveXFile(&file);
}

void* Object::operator new(size_t size, Allocator* allocator) {
    if (allocator) return allocator->alloc((long)size, ALLOC_OBJECT);
    return checkedMalloc((long)size);
}

void* Object::operator new(size_t, Allocator* allocator, void* memory) {
    allocator->track(memory, ALLOC_PLACED_OBJECT);
    return memory;
}

void Object::operator delete(void* memory) { ::free(memory); }

void Object::operator delete(void* memory, Allocator* allocator) {
    if (allocator && allocator->owns(memory)) allocator->untrack(memory);
    ::free(memory);
}

void Object::operator delete(void*, Allocator* allocator, void* where) {
    if (allocator && allocator->owns(where)) allocator->untrack(where);
}

}  // namespace vision
