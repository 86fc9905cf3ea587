#include "model/ship.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <vector>

namespace
{
std::vector<uint32_t> recordedTriangles(const Ship& s)
{
    return {s.changes.triangles, s.changes.triangles + s.changes.triangleCount};
}

std::vector<uint32_t> recordedAttachments(const Ship& s)
{
    return {s.changes.attachments, s.changes.attachments + s.changes.attachmentCount};
}
} // namespace

// Each list operation changes the lists, counts one edit and records the index it changed, in
// order, a repeat of the last index once; forgetting starts an empty record.
TEST(ShipChanges, ListOperationsRecordWhatTheyChanged)
{
    Ship s;
    const Triangle t = tri({0, 0}, {10, 0}, {0, 10});
    appendTriangle(s, t);
    appendTriangle(s, t);
    Attachment a;
    a.key = 'K';
    appendAttachment(s, a);
    writeTriangle(s, 0, tri({0, 0}, {20, 0}, {0, 10}));
    writeTriangle(s, 0, tri({0, 0}, {30, 0}, {0, 10}));
    writeAttachmentPosition(s, 0, Vec2{3.125, -6.25});
    const uint64_t stamp = s.editStamp;
    EXPECT_NE(stamp, 0u);
    EXPECT_EQ(recordedTriangles(s), (std::vector<uint32_t>{0, 1, 0}));
    EXPECT_EQ(recordedAttachments(s), (std::vector<uint32_t>{0}));
    EXPECT_FALSE(s.changes.everything);
    EXPECT_EQ(s.triangles[0].corners[1].x, 30.0);
    EXPECT_EQ(s.attachments[0].x, 3.125);
    EXPECT_EQ(s.attachments[0].y, -6.25);
    EXPECT_EQ(s.attachments[0].key, 'K');

    forgetShipChanges(s);
    EXPECT_EQ(s.changes.triangleCount, 0);
    EXPECT_EQ(s.changes.attachmentCount, 0);
    EXPECT_FALSE(s.changes.everything);
    EXPECT_EQ(s.editStamp, stamp);
    // Another ship's change never gets a stamp this one had.
    Ship other;
    appendAttachment(other, a);
    EXPECT_NE(other.editStamp, stamp);
}

// Replacing or emptying the lists, or more changes than the record holds, record everything.
TEST(ShipChanges, WholeChangesAndOverflowRecordEverything)
{
    Ship s;
    s.pendingPoints = {Vec2{1, 1}};
    std::vector<Triangle> loaded(3, tri({0, 0}, {10, 0}, {0, 10}));
    loaded.reserve(40);
    adoptShipLists(s, std::move(loaded), std::vector<Attachment>(2));
    EXPECT_TRUE(s.changes.everything);
    EXPECT_EQ(s.triangles.size(), 3u);
    EXPECT_EQ(s.triangles.capacity(), 40u);
    EXPECT_EQ(s.attachments.size(), 2u);
    EXPECT_TRUE(s.pendingPoints.empty());
    EXPECT_NE(s.editStamp, 0u);

    forgetShipChanges(s);
    for (int i = 0; i <= ShipChanges::CAPACITY; i++)
    {
        appendAttachment(s, Attachment{});
    }
    EXPECT_TRUE(s.changes.everything);

    forgetShipChanges(s);
    emptyShip(s);
    EXPECT_TRUE(s.changes.everything);
    EXPECT_TRUE(s.triangles.empty());
    EXPECT_TRUE(s.attachments.empty());
}
