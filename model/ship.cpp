#include "model/ship.h"

#include <cassert>
#include <utility>

Ship ship;
EditorState editor;

// The last edit stamp given to any ship.
static uint64_t lastEditStamp = 0;

double doubleSignedArea(const Triangle& t)
{
    const Vec2& a = t.corners[0];
    const Vec2& b = t.corners[1];
    const Vec2& c = t.corners[2];
    return ((a.x * b.y - b.x * a.y) + (b.x * c.y - c.x * b.y)) + (c.x * a.y - a.x * c.y);
}

// Adds index `i` to a list of the record, leaving out a repeat of the last one; a full list
// turns the record into everything.
static void noteChanged(ShipChanges& c, uint32_t* list, int& count, std::size_t i)
{
    if (c.everything || (count > 0 && list[count - 1] == i))
    {
        return;
    }
    if (count == ShipChanges::CAPACITY)
    {
        c.everything = true;
        return;
    }
    list[count++] = static_cast<uint32_t>(i);
}

static void noteTriangle(Ship& s, std::size_t i)
{
    s.editStamp = ++lastEditStamp;
    noteChanged(s.changes, s.changes.triangles, s.changes.triangleCount, i);
}

static void noteAttachment(Ship& s, std::size_t i)
{
    s.editStamp = ++lastEditStamp;
    noteChanged(s.changes, s.changes.attachments, s.changes.attachmentCount, i);
}

static void noteEverything(Ship& s)
{
    s.editStamp = ++lastEditStamp;
    s.changes.everything = true;
}

void appendTriangle(Ship& s, const Triangle& t)
{
    s.triangles.push_back(t);
    noteTriangle(s, s.triangles.size() - 1);
}

void writeTriangle(Ship& s, std::size_t i, const Triangle& t)
{
    assert(i < s.triangles.size());
    s.triangles[i] = t;
    noteTriangle(s, i);
}

void appendAttachment(Ship& s, const Attachment& a)
{
    s.attachments.push_back(a);
    noteAttachment(s, s.attachments.size() - 1);
}

void writeAttachmentPosition(Ship& s, std::size_t i, Vec2 p)
{
    assert(i < s.attachments.size());
    s.attachments[i].x = p.x;
    s.attachments[i].y = p.y;
    noteAttachment(s, i);
}

void emptyShip(Ship& s)
{
    s.pendingPoints.clear();
    s.triangles.clear();
    s.attachments.clear();
    noteEverything(s);
}

void adoptShipLists(Ship& s, std::vector<Triangle>&& triangles,
                    std::vector<Attachment>&& attachments)
{
    s.triangles = std::move(triangles);
    s.attachments = std::move(attachments);
    s.pendingPoints.clear();
    noteEverything(s);
}

void forgetShipChanges(Ship& s)
{
    s.changes = ShipChanges{};
    s.changes.from = s.editStamp;
}
