// The distance-to-edge engine. For every pixel near the edge of a mask (the
// 127.5 iso-line of its 8-bit values) it measures the Euclidean distance to
// that edge with sub-pixel accuracy, up to a maximum, and hands each result
// to a subclass that turns it into a height.
//
// Edge points are seeded from the 2x2 cells the iso-line crosses and passed
// on from pixel to neighbouring pixel in passes of increasing distance; each
// pixel keeps the nearest point offered to it, so distances are those to a
// nearby edge point rather than the exhaustive nearest one.
//
// Use: construct, Setup, Run (the callbacks run inside, each pixel of the
// output rectangle exactly once, one of the three), destroy.
#pragma once

#include <cstdint>

#include "base/module_memory.h"
#include "raster/abort_check.h"
#include "raster/raster.h"

namespace zoka {

// One pixel under propagation, on one of the pool's lists (active, finished
// in this pass, free).
struct EdgeNode {
    int32_t x;
    int32_t y;
    double edgeX;  // the nearest edge point found so far
    double edgeY;
    double distance;    // from (x, y) to (edgeX, edgeY)
    int32_t direction;  // 0 N, 1 NE, 2 E, 3 SE, 4 S, 5 SW, 6 W, 7 NW: the step that reached it
    int32_t next;       // the next node's index on its list, or kNoNode
};

class HeightMap {
public:
    static constexpr int32_t kNoNode = -1;

    HeightMap() = default;
    // Frees what Setup allocated (the owners hold nothing before it).
    virtual ~HeightMap() = default;
    HeightMap(const HeightMap&) = delete;
    HeightMap& operator=(const HeightMap&) = delete;

    // Prepares a run over outputRect, which lies inside the mask's bounds:
    // distances of pixels inside the mask (value 128 or more) in inside
    // mode, of pixels outside it otherwise, up to maxDistance (accepted when
    // equal). The mask is read at (x - maskOffsetX, y - maskOffsetY) and
    // may be released once Setup returns. 0, or 8 with nothing left
    // allocated.
    int Setup(const Raster& mask, double maxDistance, const PixelRect& outputRect, bool insideMode,
              double maskOffsetX, double maskOffsetY);

    // Issues the callbacks. 0; 1 when abort (polled once per pass with null)
    // returned non-zero; 8 when the node pool could not grow.
    int Run(AbortCheck abort);

    // The node pool's capacity, for tests of its growth.
    int32_t PoolCapacity() const { return capacity_; }

protected:
    // A pixel of the output rectangle within reach: its edge point and
    // value = maxDistance - distance in inside mode, distance in outside
    // mode.
    virtual void SetEdgeHeight(int32_t x, int32_t y, double edgeX, double edgeY, double value) = 0;
    // An inside pixel beyond reach (inside mode), or any inside pixel
    // (outside mode).
    virtual void SetInteriorHeight(int32_t x, int32_t y) = 0;
    // An outside pixel (inside mode), or an outside pixel beyond reach
    // (outside mode).
    virtual void SetExteriorHeight(int32_t x, int32_t y) = 0;

private:
    // Node map entries besides node indices: a pixel on the measured side
    // not reached yet, a pixel whose distance is final, and a pixel on the
    // other side of the edge, which never gets a node.
    static constexpr int32_t kUnvisited = -1;
    static constexpr int32_t kFinished = -2;
    static constexpr int32_t kOtherSide = -3;

    void MarkSides();
    int SeedFromEdges();
    int TryAssign(int32_t px, int32_t py, double edgeX, double edgeY, int32_t direction);
    int TakeNode(int32_t& index);
    int GrowPool();
    void FinaliseBelow(double threshold);
    int ExpandFinished();
    void FillUnreached();

    bool InNodeMap(int32_t x, int32_t y) const {
        return static_cast<uint32_t>(x - mapRect_.left) < static_cast<uint32_t>(mapRect_.Width()) &&
               static_cast<uint32_t>(y - mapRect_.top) < static_cast<uint32_t>(mapRect_.Height());
    }
    int32_t& MapEntry(int32_t x, int32_t y) const {
        return map_[static_cast<ptrdiff_t>(y - mapRect_.top) * mapRect_.Width() + (x - mapRect_.left)];
    }
    // kUnvisited or kOtherSide, from the mask copy; pixels beyond it count
    // as outside.
    int32_t SideOf(int32_t x, int32_t y) const;

    bool insideMode_ = true;
    double maxDistance_ = 0;
    PixelRect outputRect_;
    ScopedRaster maskCopy_;  // the mask read at the offset, already shifted
    ScopedRaster nodeMap_;   // one int32 per pixel: a state above or a node index
    // The node map's rows are contiguous (CreateRaster): entries are
    // addressed from the first one.
    PixelRect mapRect_;
    int32_t* map_ = nullptr;
    int32_t mapPixels_ = 0;
    ModuleBuffer<EdgeNode> pool_;
    int32_t capacity_ = 0;
    int32_t active_ = kNoNode;    // head of the active list
    int32_t finished_ = kNoNode;  // the pass's finished nodes, in active-list order
    int32_t free_ = kNoNode;      // head of the free list
};

}  // namespace zoka
