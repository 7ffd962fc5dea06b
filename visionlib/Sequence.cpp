#include "visionlib/Sequence.h"

#include <cstring>

#include "visionlib/Allocator.h"
#include "visionlib/Message.h"
#include "visionlib/XFile.h"

namespace vision {

Sequence::Sequence() : n_allocated_frames(0), frames(nullptr), n_frames(0), frame_size(0) {}

Sequence::Sequence(int n_frames_, int frame_size_)
    : n_allocated_frames(0), frames(nullptr), n_frames(0), frame_size(frame_size_) {
    if (frame_size <= 0) error("Sequence: try to create a sequence with a negative size");
    if (n_frames_ <= 0) return;
    frames = static_cast<real**>(allocator->alloc((long)sizeof(real*) * n_frames_));
    real* data = static_cast<real*>(allocator->alloc((long)sizeof(real) * n_frames_ * frame_size));
    for (int i = 0; i < n_frames_; i++) frames[i] = data + (long)i * frame_size;
    n_frames = n_allocated_frames = n_frames_;
}

Sequence::Sequence(real** frames_, int n_frames_, int frame_size_)
    : n_allocated_frames(n_frames_ > 0 ? n_frames_ : 0), frames(frames_),
      n_frames(n_frames_ > 0 ? n_frames_ : 0), frame_size(frame_size_) {
    if (frame_size <= 0) error("Sequence: try to create a sequence with a negative size");
}

Sequence::~Sequence() {}

bool Sequence::owns_table() const { return frames && allocator->owns(frames); }

void Sequence::reallocateFrameTable(int n) {
    if (!frames || owns_table()) {
        frames = static_cast<real**>(allocator->realloc(frames, (long)sizeof(real*) * n));
        return;
    }
    // The caller's table stays theirs; continue in a table of our own.
    real** table = static_cast<real**>(allocator->alloc((long)sizeof(real*) * n));
    int keep = n_allocated_frames < n ? n_allocated_frames : n;
    memcpy(table, frames, sizeof(real*) * (size_t)keep);
    frames = table;
}

void Sequence::resize(int n, bool allocate) {
    if (n < 0) error("Sequence: try to resize to a negative number of frames (%d)", n);
    if (n > n_allocated_frames) {
        reallocateFrameTable(n);
        int added = n - n_allocated_frames;
        real* data = nullptr;
        if (allocate && frame_size > 0)
            data = static_cast<real*>(allocator->alloc((long)sizeof(real) * added * frame_size));
        for (int i = 0; i < added; i++)
            frames[n_allocated_frames + i] = data ? data + (long)i * frame_size : nullptr;
        n_allocated_frames = n;
    }
    n_frames = n;
}

void Sequence::addFrame(real* frame, bool copy) {
    if (!frame) return;
    reallocateFrameTable(n_allocated_frames + 1);
    real* stored = frame;
    if (copy) {
        stored = static_cast<real*>(allocator->alloc((long)sizeof(real) * frame_size));
        memcpy(stored, frame, sizeof(real) * (size_t)frame_size);
    }
    frames[n_allocated_frames] = stored;
    if (n_frames == n_allocated_frames) n_frames++;
    n_allocated_frames++;
}

void Sequence::add(Sequence* other, bool copy) {
    if (!other) return;
    if (other->frame_size != frame_size) error("Sequence: try to add a sequence with a wrong frame size");
    for (int i = 0; i < other->n_frames; i++) addFrame(other->frames[i], copy);
}

void Sequence::copy(Sequence* other) {
    long need = (long)n_frames * frame_size;
    long have = (long)other->n_frames * other->frame_size;
    if (have < need) error("Sequence: cannot copy %ld values from a sequence of %ld values", need, have);
    int src_frame = 0, src_pos = 0;
    for (int i = 0; i < n_frames; i++) {
        for (int j = 0; j < frame_size; j++) {
            while (src_pos >= other->frame_size) {
                src_frame++;
                src_pos = 0;
            }
            frames[i][j] = other->frames[src_frame][src_pos++];
        }
    }
}

void Sequence::copyFrom(const real* values) {
    for (int i = 0; i < n_frames; i++)
        memcpy(frames[i], values + (long)i * frame_size, sizeof(real) * (size_t)frame_size);
}

void Sequence::copyTo(real* values) {
    for (int i = 0; i < n_frames; i++)
        memcpy(values + (long)i * frame_size, frames[i], sizeof(real) * (size_t)frame_size);
}

void Sequence::loadXFile(XFile* file) {
    for (int i = 0; i < n_frames; i++) file->taggedRead(frames[i], sizeof(real), frame_size, "FRAME");
}

void Sequence::saveXFile(XFile* file) {
    for (int i = 0; i < n_frames; i++) file->taggedWrite(frames[i], sizeof(real), frame_size, "FRAME");
}

int Sequence::objectSize() { return (int)sizeof(Sequence); }

int Sequence::cloneStorageSize() {
    return (int)(sizeof(real*) * (size_t)n_frames + sizeof(real) * (size_t)n_frames * (size_t)frame_size);
}

Sequence* Sequence::clone(Allocator* owner, void* object_memory, void* frame_memory) {
    if (!owner) owner = allocator;
    Sequence* copy_seq;
    if (frame_memory) {
        // Frame table first (real pointer width), then the data.
        real** table = static_cast<real**>(frame_memory);
        real* data = reinterpret_cast<real*>(table + n_frames);
        for (int i = 0; i < n_frames; i++) table[i] = data + (long)i * frame_size;
        copy_seq = object_memory ? new (owner, object_memory) Sequence(table, n_frames, frame_size)
                                 : new (owner) Sequence(table, n_frames, frame_size);
    } else {
        copy_seq = object_memory ? new (owner, object_memory) Sequence(n_frames, frame_size)
                                 : new (owner) Sequence(n_frames, frame_size);
    }
    copy_seq->copy(this);
    return copy_seq;
}

}  // namespace vision
