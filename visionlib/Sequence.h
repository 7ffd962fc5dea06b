#pragma once
// A list of frames, each a vector of frame_size reals: the library's unit of data.
#include "visionlib/Object.h"

namespace vision {

class Sequence : public Object {
public:
    int n_allocated_frames;  // frames that exist
    real** frames;
    int n_frames;    // frames in use, never above n_allocated_frames
    int frame_size;  // reals per frame

    Sequence();
    // Frame data is not cleared. frame_size <= 0 is fatal.
    Sequence(int n_frames, int frame_size);
    // Over the caller's table and frames, which stay the caller's.
    Sequence(real** frames, int n_frames, int frame_size);

    void loadXFile(XFile* file) override;  // n_frames "FRAME" records into the existing frames
    void saveXFile(XFile* file) override;
    ~Sequence() override;

    virtual int objectSize();
    // Bytes for a frame table (real pointer size) and the data of a clone.
    virtual int cloneStorageSize();
    virtual Sequence* clone(Allocator* allocator = nullptr, void* object_memory = nullptr,
                            void* frame_memory = nullptr);

    // Growing allocates (or leaves NULL frames without allocate); shrinking keeps the frames.
    void resize(int n, bool allocate = true);
    void addFrame(real* frame, bool copy = false);
    void add(Sequence* other, bool copy = false);
    void reallocateFrameTable(int n);
    // Flat copies; the source must hold at least n_frames x frame_size values (fatal otherwise).
    void copy(Sequence* other);
    void copyFrom(const real* values);
    void copyTo(real* values);

private:
    bool owns_table() const;
};

}  // namespace vision
