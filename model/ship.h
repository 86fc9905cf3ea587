#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A triangle or attachment field holding this value is bound to no edge.
constexpr int NO_EDGE = 9999;

// A point in world units; y grows upward.
struct Vec2
{
    double x = 0.0;
    double y = 0.0;
};

// Three corners in the order a, b, c. Edge k runs from corner k to corner nextCorner(k), so
// an attachment names an edge by the index of its first corner.
struct Triangle
{
    Vec2 corners[3];
};

// The corner after `k` going round a triangle: where edge k ends.
inline int nextCorner(int k)
{
    return k == 2 ? 0 : k + 1;
}

// Every edge midpoint comes from here, so the binding and the markers agree on it to the last
// bit; inline, as the binding takes one per edge on every frame.
inline Vec2 midpoint(const Vec2& p, const Vec2& q)
{
    return Vec2{(p.x + q.x) * 0.5, (p.y + q.y) * 0.5};
}

// The midpoint of edge k of `t`.
inline Vec2 edgeMidpoint(const Triangle& t, int k)
{
    return midpoint(t.corners[k], t.corners[nextCorner(k)]);
}

// The squared distance from `p` to `q` that binding compares exactly: the plain scan, the
// grid and the frame step must round it alike to agree on every tie.
inline double squaredDistance(const Vec2& p, const Vec2& q)
{
    const double dx = p.x - q.x;
    const double dy = p.y - q.y;
    return dx * dx + dy * dy;
}

// Twice the signed area of `t`, positive when a, b, c run counter-clockwise. The saved area's
// digits and the fill colour depend on its exact bits, so its operations keep their order.
double doubleSignedArea(const Triangle& t);

// A marker bound to one keyboard character. It binds itself anew on every frame to the
// nearest outline edge; `triangle` and `edge` hold what the last frame found.
struct Attachment
{
    unsigned char key = 0; // the label character, taken as 0..255
    double x = 0.0;        // world units, not necessarily on the grid
    double y = 0.0;
    int triangle = NO_EDGE; // index into Ship::triangles, or NO_EDGE
    int edge = NO_EDGE;     // 0, 1 or 2: first corner of the bound edge, or NO_EDGE
    bool modeFlag = false;  // selects the marker colour; saved with the ship
};

// An edge midpoint binds an attachment only when its squared distance is below this, so a
// bound attachment always lies within it of its edge's midpoint.
constexpr double ATTACH_RANGE_SQ = 1000.0;

// What the list operations below changed since the record was last forgotten: the indices of
// the triangles and attachments appended or written, in the order of the changes, or
// `everything` after the lists were replaced or emptied, or once more indices changed than
// the record holds. It takes no memory of its own, so recording never fails.
struct ShipChanges
{
    // Indices recorded per list before the record says everything instead: a drag writes a
    // few a frame, and past a few hundred a frame redoes the whole ship anyway.
    static constexpr int CAPACITY = 256;
    uint32_t triangles[CAPACITY] = {};
    int triangleCount = 0;
    uint32_t attachments[CAPACITY] = {};
    int attachmentCount = 0;
    bool everything = false;
    // The ship's edit stamp when the record began: a reader that last caught up at another
    // stamp has missed a record, and takes it as everything.
    uint64_t from = 0;
};

// The ship's lists are changed only through the operations below, so that `changes` and
// `editStamp` follow every change.
struct Ship
{
    std::vector<Vec2> pendingPoints; // towards the next triangle; at most two between events
    std::vector<Triangle> triangles; // in order of creation; the index is the identity
    std::vector<Attachment> attachments;
    // New at every change of the triangles or attachments: a number no other change of any
    // ship in this run has had, so that a ship assigned whole is never taken for one seen.
    uint64_t editStamp = 0;
    ShipChanges changes; // since the last frame
};

void appendTriangle(Ship& s, const Triangle& t);

// Writes triangle `i` whole: a moved corner, with the corners re-wound as the edit wants them.
void writeTriangle(Ship& s, std::size_t i, const Triangle& t);

void appendAttachment(Ship& s, const Attachment& a);

// Moves attachment `i` to `p`; its binding is the next frame's to find.
void writeAttachmentPosition(Ship& s, std::size_t i, Vec2 p);

// Empties the triangles and attachments, and the pending points with them.
void emptyShip(Ship& s);

// Makes `triangles` and `attachments` the ship's lists, taking their storage (and whatever room
// it has for growth); the pending points go.
void adoptShipLists(Ship& s, std::vector<Triangle>&& triangles,
                    std::vector<Attachment>&& attachments);

// Starts a new record of changes, once a frame has taken account of the last one.
void forgetShipChanges(Ship& s);

// The view's origin is an integer pair: pans move it in whole world units.
struct ViewOrigin
{
    int32_t x = -150;
    int32_t y = -150;
};

// World units shown across and up the window; there is no zoom.
constexpr int VIEW_SIZE = 300;

// State shared by the event callbacks.
struct EditorState
{
    ViewOrigin viewOrigin;    // lower-left corner of the visible square, world units
    int32_t windowWidth = 0;  // pixels, 0 until the first reshape
    int32_t windowHeight = 0; // pixels, 0 until the first reshape
    Vec2 pointerWorld;        // pointer at the last motion or left/right button event
    int32_t lastPointerX = 0; // pixels, where the pan last stepped from
    int32_t lastPointerY = 0;
    bool panActive = false; // at most one of the three drags is active
    bool vertexDragActive = false;
    bool attachmentDragActive = false;
    int32_t draggedAttachment = 0; // index into Ship::attachments while attachmentDragActive
    unsigned char currentKey = 0;  // key given to newly placed attachments
    bool modeFlag = true;          // flag given to newly placed attachments
};

extern Ship ship;
extern EditorState editor;
