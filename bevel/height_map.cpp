#include "bevel/height_map.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/result_codes.h"
#include "raster/numeric.h"
#include "raster/sampler.h"

namespace zoka {

namespace {

// The neighbour in each direction code (y grows downward).
constexpr int32_t kStepX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int32_t kStepY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

// The three neighbours a finished node passes its edge point on to, by the
// direction that reached it: straight on and the two steps beside it, so a
// front moves away from the edge without turning back.
constexpr int32_t kOffers[8][3] = {
    {0, 1, 7}, {0, 1, 2}, {1, 2, 3}, {2, 3, 4}, {3, 4, 5}, {4, 5, 6}, {5, 6, 7}, {0, 6, 7},
};

// The iso-line between outside (127 and below) and inside (128 and above).
constexpr double kLevel = 127.5;

bool Inside(int m) { return m >= 128; }

bool InRect(const PixelRect& r, int32_t x, int32_t y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// Links nodes [first, end) in array order, the last one to tail.
void LinkInOrder(EdgeNode* nodes, int32_t first, int32_t end, int32_t tail) {
    for (int32_t i = first; i < end; ++i) nodes[i].next = i + 1 < end ? i + 1 : tail;
}

}  // namespace

int HeightMap::Setup(const Raster& mask, double maxDistance, const PixelRect& outputRect,
                     bool insideMode, double maskOffsetX, double maskOffsetY) {
    const int32_t reach = TruncToInt32(std::ceil(maxDistance));
    PixelRect around = outputRect;
    OutsetRect(around, reach);
    PixelRect nodeRect;
    if (insideMode) {
        IntersectRect(around, mask, nodeRect);
    } else {
        GrowWithin(outputRect, mask, reach, nodeRect);
    }
    int result = nodeMap_.Create(nodeRect, 1, 4);
    if (result != kOk) return result;
    PixelRect copyRect;
    IntersectRect(around, mask, copyRect);
    result = ResampleShifted(copyRect, mask, maskOffsetX, maskOffsetY, maskCopy_.Receive());
    if (result != kOk) {
        nodeMap_.Reset();
        return result;
    }
    insideMode_ = insideMode;
    mapRect_ = nodeMap_->bounds;
    map_ = IsEmpty(mapRect_) ? nullptr : nodeMap_->RowAs<int32_t>(mapRect_.top);
    MarkSides();

    const int64_t pixels = int64_t(nodeRect.Height()) * nodeRect.Width();
    mapPixels_ = static_cast<int32_t>(std::min<int64_t>(pixels, INT32_MAX));
    const int32_t capacity = std::max<int32_t>(10, mapPixels_ / 100);
    result = pool_.Allocate(static_cast<size_t>(capacity));
    if (result != kOk) {
        maskCopy_.Reset();
        nodeMap_.Reset();
        return result;
    }
    capacity_ = capacity;
    LinkInOrder(pool_.get(), 0, capacity_, kNoNode);
    free_ = 0;
    active_ = kNoNode;

    maxDistance_ = maxDistance;
    outputRect_ = outputRect;
    return kOk;
}

int HeightMap::Run(AbortCheck abort) {
    int result = SeedFromEdges();
    if (result != kOk) return result;
    // Each pass makes final the distances below the threshold and passes
    // their edge points on: a one-pixel-wide band of distances per pass.
    for (double threshold = 1.0; active_ != kNoNode; threshold += 1.0) {
        if (abort(nullptr) != 0) return kCancelled;
        FinaliseBelow(threshold);
        result = ExpandFinished();
        if (result != kOk) return result;
    }
    FillUnreached();
    return kOk;
}

// ---- Seeding ---------------------------------------------------------------

// Every pixel starts unreached, on the measured side or the other.
void HeightMap::MarkSides() {
    PixelRect overlap;
    IntersectRect(mapRect_, *maskCopy_, overlap);
    const int32_t copyLeft = maskCopy_->bounds.left;
    for (int32_t y = mapRect_.top; y < mapRect_.bottom; ++y) {
        int32_t* entries = &MapEntry(mapRect_.left, y);
        const int32_t left = mapRect_.left;
        if (y < overlap.top || y >= overlap.bottom) {
            for (int32_t x = left; x < mapRect_.right; ++x) entries[x - left] = SideOf(x, y);
            continue;
        }
        const uint8_t* values = maskCopy_->Row(y);
        for (int32_t x = left; x < overlap.left; ++x) entries[x - left] = SideOf(x, y);
        for (int32_t x = overlap.left; x < overlap.right; ++x) {
            entries[x - left] = Inside(values[x - copyLeft]) == insideMode_ ? kUnvisited : kOtherSide;
        }
        for (int32_t x = overlap.right; x < mapRect_.right; ++x) entries[x - left] = SideOf(x, y);
    }
}

// Every 2x2 cell of the mask copy that the iso-line crosses yields one edge
// point, the mean of its crossings on the cell's sides, offered to the
// corners on the measured side.
int HeightMap::SeedFromEdges() {
    PixelRect scan = nodeMap_->bounds;
    if (insideMode_) OutsetRect(scan, 1);
    IntersectRect(scan, *maskCopy_, scan);
    const int32_t copyLeft = maskCopy_->bounds.left;
    for (int32_t y = scan.top; y < scan.bottom - 1; ++y) {
        const uint8_t* row0 = maskCopy_->Row(y);
        const uint8_t* row1 = maskCopy_->Row(y + 1);
        for (int32_t x = scan.left; x < scan.right - 1; ++x) {
            const int32_t i = x - copyLeft;
            const int m00 = row0[i], m10 = row0[i + 1], m01 = row1[i], m11 = row1[i + 1];
            const bool i00 = Inside(m00), i10 = Inside(m10), i01 = Inside(m01), i11 = Inside(m11);
            if (i00 == i10 && i00 == i01 && i00 == i11) continue;
            double sumX = 0, sumY = 0;
            int crossings = 0;
            const auto add = [&](double px, double py) {
                sumX += px;
                sumY += py;
                ++crossings;
            };
            if (i00 != i10) add(x + (kLevel - m00) / (m10 - m00), y);
            if (i01 != i11) add(x + (kLevel - m01) / (m11 - m01), y + 1);
            if (i00 != i01) add(x, y + (kLevel - m00) / (m01 - m00));
            if (i10 != i11) add(x + 1, y + (kLevel - m10) / (m11 - m10));
            const double ex = sumX / crossings, ey = sumY / crossings;
            const int32_t corners[4][3] = {{x, y, 7}, {x + 1, y, 1}, {x, y + 1, 5}, {x + 1, y + 1, 3}};
            const bool inside[4] = {i00, i10, i01, i11};
            for (int c = 0; c < 4; ++c) {
                if (inside[c] != insideMode_) continue;
                const int result = TryAssign(corners[c][0], corners[c][1], ex, ey, corners[c][2]);
                if (result != kOk) return result;
            }
        }
    }
    return kOk;
}

// ---- Propagation -------------------------------------------------------------

int HeightMap::TryAssign(int32_t px, int32_t py, double edgeX, double edgeY, int32_t direction) {
    if (!InNodeMap(px, py)) return kOk;
    int32_t& entry = MapEntry(px, py);
    if (entry == kFinished || entry == kOtherSide) return kOk;
    const double dx = edgeX - px, dy = edgeY - py;
    const double distance = std::sqrt(dx * dx + dy * dy);
    if (distance > maxDistance_) return kOk;
    if (entry == kUnvisited) {
        int32_t index = kNoNode;
        const int result = TakeNode(index);
        if (result != kOk) return result;
        pool_[index] = EdgeNode{px, py, edgeX, edgeY, distance, direction, active_};
        active_ = index;
        entry = index;
        return kOk;
    }
    EdgeNode& node = pool_[entry];
    if (distance < node.distance) {
        node.edgeX = edgeX;
        node.edgeY = edgeY;
        node.distance = distance;
        node.direction = direction;
    }
    return kOk;
}

int HeightMap::TakeNode(int32_t& index) {
    if (free_ == kNoNode) {
        const int result = GrowPool();
        if (result != kOk) return result;
    }
    index = free_;
    free_ = pool_[index].next;
    return kOk;
}

// Doubles the pool, capped at the node map's pixel count: a pixel gets at
// most one node in a run, so the cap always leaves room. Lists and the node
// map hold indices, which stay valid in the new array.
int HeightMap::GrowPool() {
    const auto grown = static_cast<int32_t>(std::min<int64_t>(2 * int64_t(capacity_), mapPixels_));
    ModuleBuffer<EdgeNode> larger;
    const int result = larger.Allocate(static_cast<size_t>(grown));
    if (result != kOk) return result;
    std::memcpy(larger.get(), pool_.get(), sizeof(EdgeNode) * static_cast<size_t>(capacity_));
    LinkInOrder(larger.get(), capacity_, grown, free_);
    free_ = capacity_;
    capacity_ = grown;
    pool_.Swap(larger);
    return kOk;
}

// Makes final the active nodes below the threshold and moves them, in the
// order of the active list, to the pass's finished list; the others stay
// active in their order.
void HeightMap::FinaliseBelow(double threshold) {
    int32_t* link = &active_;
    int32_t* finishedEnd = &finished_;
    while (*link != kNoNode) {
        const int32_t n = *link;
        EdgeNode& node = pool_[n];
        if (!(node.distance < threshold)) {
            link = &node.next;
            continue;
        }
        if (InRect(outputRect_, node.x, node.y)) {
            const double value = insideMode_ ? maxDistance_ - node.distance : node.distance;
            SetEdgeHeight(node.x, node.y, node.edgeX, node.edgeY, value);
        }
        MapEntry(node.x, node.y) = kFinished;
        *link = node.next;
        node.next = kNoNode;
        *finishedEnd = n;
        finishedEnd = &node.next;
    }
}

// Passes the finished nodes' edge points on, in the order they were found,
// then frees them. Nodes the offers make are pushed at the head of the
// active list and wait for the next pass.
int HeightMap::ExpandFinished() {
    int32_t last = kNoNode;
    for (int32_t n = finished_; n != kNoNode; n = pool_[n].next) {
        const EdgeNode node = pool_[n];  // an offer may move the pool
        for (const int32_t d : kOffers[node.direction]) {
            const int result = TryAssign(node.x + kStepX[d], node.y + kStepY[d], node.edgeX, node.edgeY, d);
            if (result != kOk) return result;
        }
        last = n;
    }
    if (last != kNoNode) {
        pool_[last].next = free_;
        free_ = finished_;
        finished_ = kNoNode;
    }
    return kOk;
}

// Pixels no edge point reached lie deeper than the maximum on their side.
void HeightMap::FillUnreached() {
    for (int32_t y = outputRect_.top; y < outputRect_.bottom; ++y) {
        for (int32_t x = outputRect_.left; x < outputRect_.right; ++x) {
            const int32_t state = InNodeMap(x, y) ? MapEntry(x, y) : SideOf(x, y);
            if (state != kUnvisited && state != kOtherSide) continue;
            // The measured side is the inside in inside mode.
            if ((state == kUnvisited) == insideMode_) {
                SetInteriorHeight(x, y);
            } else {
                SetExteriorHeight(x, y);
            }
        }
    }
}

int32_t HeightMap::SideOf(int32_t x, int32_t y) const {
    const bool inside = maskCopy_->Contains(x, y) && Inside(*maskCopy_->Pixel(x, y));
    return inside == insideMode_ ? kUnvisited : kOtherSide;
}

}  // namespace zoka
