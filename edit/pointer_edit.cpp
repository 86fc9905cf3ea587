#include "edit/pointer_edit.h"

#include "bind/binding.h"
#include "edit/corner_index.h"
#include "edit/geometry.h"
#include "model/table_sqrt.h"
#include "platform/console.h"
#include "platform/key_state.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <new>

namespace
{
// An attachment this far from the pointer or farther is never picked.
constexpr double PICK_RANGE = 1000.0;
constexpr int NO_CANDIDATE = 9999;
// Corners a drag step finds through the index at most; on a point shared by more, the step
// walks the ship.
constexpr int MAX_CORNERS_FOUND = 1024;

void pickAttachment()
{
    const Ship& s = ship;
    EditorState& e = editor;
    double best = PICK_RANGE;
    int candidate = NO_CANDIDATE;
    for (std::size_t i = 0; i < s.attachments.size(); i++)
    {
        const Attachment& a = s.attachments[i];
        const float d = fastLength(a.x - e.pointerWorld.x, a.y - e.pointerWorld.y);
        // Strictly nearer only, so of two at the same distance the earlier one stays.
        if (best > d)
        {
            best = d;
            candidate = static_cast<int>(i);
        }
    }
    if (candidate != NO_CANDIDATE)
    {
        e.attachmentDragActive = true;
        e.draggedAttachment = candidate;
    }
}

// Room for one more element in `list`: doubling, as the list itself would.
template <typename T> void roomForOne(std::vector<T>& list)
{
    if (list.size() == list.capacity())
    {
        list.reserve(std::max<std::size_t>(16, 2 * list.capacity()));
    }
}
} // namespace

bool roomForGrowth()
{
    Ship& s = ship;
    try
    {
        roomForOne(s.triangles);
        roomForOne(s.attachments);
        s.pendingPoints.reserve(3);
        reserveBinding(s.triangles.capacity(), s.attachments.capacity());
        reserveCornerIndex(s.triangles.capacity());
        return true;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

namespace
{
void placeAttachment()
{
    if (!roomForGrowth())
    {
        writeErrorLine("gantrix: out of memory; the attachment is not placed");
        return;
    }
    const EditorState& e = editor;
    Attachment a;
    a.key = e.currentKey;
    a.x = e.pointerWorld.x;
    a.y = e.pointerWorld.y;
    a.modeFlag = e.modeFlag;
    appendAttachment(ship, a);
}

void addPoint()
{
    Ship& s = ship;
    if (!roomForGrowth())
    {
        writeErrorLine("gantrix: out of memory; the point is not added");
        return;
    }
    s.pendingPoints.push_back(snapToGrid(editor.pointerWorld));
    if (s.pendingPoints.size() == 3)
    {
        Triangle t;
        t.corners[0] = s.pendingPoints[0];
        t.corners[1] = s.pendingPoints[1];
        t.corners[2] = s.pendingPoints[2];
        normaliseWinding(t);
        appendTriangle(s, t);
        s.pendingPoints.clear();
    }
    assert(s.pendingPoints.size() <= 2);
}
} // namespace

void pointerButtonCommand(PointerButton button, bool pressed, int x, int y)
{
    EditorState& e = editor;
    if (button == PointerButton::Left)
    {
        if (!pressed)
        {
            e.panActive = false;
            e.vertexDragActive = false;
            e.attachmentDragActive = false;
        }
        else if (isKeyDown(Key::Shift))
        {
            e.panActive = true;
            e.lastPointerX = x;
            e.lastPointerY = y;
        }
        else if (isKeyDown(Key::Control))
        {
            pickAttachment();
        }
        else
        {
            // Whether a corner lies under the pointer is not checked: a drag started on
            // empty grid picks up the first corner it reaches.
            e.vertexDragActive = true;
        }
    }
    else if (button == PointerButton::Right && pressed)
    {
        if (isKeyDown(Key::Control))
        {
            placeAttachment();
        }
        else
        {
            addPoint();
        }
    }
}

bool cornerDragStep(Vec2 previous, Vec2 next)
{
    const Vec2 from = snapToGrid(previous);
    const Vec2 to = snapToGrid(next);
    if (from.x == to.x && from.y == to.y)
    {
        return false;
    }
    // Every corner on the grid point follows, so shared corners keep their triangles
    // joined. The scan never goes back: a corner that a re-winding moved to an already
    // scanned slot waits for the next event. It visits the triangles with a corner there,
    // found through the index where it can tell, else all of them, in the ship's order.
    Ship& s = ship;
    static uint32_t found[MAX_CORNERS_FOUND];
    int count = 0;
    const bool indexed = trianglesWithCorner(s, from, found, MAX_CORNERS_FOUND, count);
    const std::size_t visits = indexed ? static_cast<std::size_t>(count) : s.triangles.size();
    for (std::size_t n = 0; n < visits; n++)
    {
        const std::size_t i = indexed ? found[n] : n;
        for (int k = 0; k < 3; k++)
        {
            const Vec2& corner = s.triangles[i].corners[k];
            if (corner.x == from.x && corner.y == from.y)
            {
                Triangle t = s.triangles[i];
                t.corners[k] = to;
                normaliseWinding(t);
                writeTriangle(s, i, t);
                if (isKeyDown(Key::Control))
                {
                    return true;
                }
            }
        }
    }
    return false;
}

void attachmentDragStep(Vec2 next)
{
    const int index = editor.draggedAttachment;
    // A load may have replaced the attachments since the pick.
    if (index < 0 || static_cast<std::size_t>(index) >= ship.attachments.size())
    {
        return;
    }
    writeAttachmentPosition(ship, static_cast<std::size_t>(index), snapToGrid(next));
}
