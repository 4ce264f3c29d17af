// The twin index against the plainest grouping there is: a map from each
// file's twin key to the files with that key, in the order they came. On
// generated files (names shared by many folders, sizes and inode numbers
// beyond 32 bits, hard links, two devices, links among regular files,
// folders left and met again) both must give the same groups, in the same
// order, and every file must read back as it went in.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "duplicates/BinBaum.h"
#include "platform/FileTime.h"
#include "settings/TwinCompare.h"
#include "tests/support/TestEntries.h"

namespace quarn {
namespace {

uint64_t FileTimeOf(const EntryStatus& entry) {
    return FileTimeFromUnix(entry.mtimeSeconds, long(entry.mtimeNanoseconds));
}

struct Generated {
    std::string folder;  // ends in a separator
    OwnedFileEntry entry;
};

std::vector<Generated> GenerateFiles(size_t count) {
    uint64_t seed = 0x2545F4914F6CDD1Dull;
    auto next = [&seed](uint64_t bound) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed % bound;
    };
    std::vector<std::string> folders;
    for (int i = 0; i < 400; ++i) {
        folders.push_back("/data/" + std::string(size_t(1 + i % 9), 'p') + "/f" +
                          std::to_string(i) + "/");
    }
    std::vector<Generated> files;
    size_t folder = 0;
    for (size_t i = 0; i < count; ++i) {
        if (next(6) == 0) {
            folder = next(5) == 0 ? next(folders.size()) : (folder + 1) % folders.size();
        }
        Generated file{folders[folder], test::RegularFileEntry("n" + std::to_string(next(700)) +
                                                                   (next(3) == 0 ? ".txt" : ""),
                                                               next(4), 0)};
        EntryStatus& status = file.entry;
        status.size = next(8) == 0 ? (uint64_t(1) << 32) + next(3) : 100 * next(5);
        test::SetFileTime(status, 116444736000000000ull + 10'000'000ull * next(3));
        status.device = next(4) == 0 ? 2049 : 64768;
        status.inode = (next(5) == 0 ? uint64_t(next(4)) << 32 : 0) + 1000 + i;
        status.linkCount = 1;
        if (next(10) == 0) {  // one of a few inodes with several links
            const uint64_t linked = next(300);
            file.entry.name = "linked" + std::to_string(linked % 40);
            status.size = linked % 3 == 0 ? (uint64_t(1) << 33) + linked : linked;
            test::SetFileTime(status, 116444736000000000ull + 10'000'000ull * (linked % 2));
            status.device = linked % 2 == 0 ? 2049 : 64768;
            status.inode = (linked % 4 == 0 ? uint64_t(7) << 32 : 0) + linked;
            status.linkCount = 2;
        }
        if (next(40) == 0) {
            status.mode = kSymlinkType | 0777;  // never a twin
        }
        files.push_back(std::move(file));
    }
    return files;
}

struct Group {
    std::string name;
    std::vector<size_t> files;  // indices into the generated files, in join order

    bool operator==(const Group&) const = default;
};

// What the index must give: files with equal keys together, groups by name
// as unsigned bytes and groups of one name newest first.
std::vector<Group> ReferenceGroups(const std::vector<Generated>& files, uint8_t compare) {
    using Key = std::tuple<std::string, uint64_t, uint64_t>;
    std::map<Key, size_t> groupOfKey;
    std::vector<Group> groups;
    for (size_t i = 0; i < files.size(); ++i) {
        const OwnedFileEntry& entry = files[i].entry;
        if (!entry.IsRegularFile()) {
            groups.push_back(Group{entry.name, {i}});
            continue;
        }
        Key key{entry.name, (compare & kCompareIgnoreSize) ? 0 : entry.size,
                (compare & kCompareIgnoreTime) ? 0 : FileTimeOf(entry)};
        auto [at, made] = groupOfKey.try_emplace(key, groups.size());
        if (made) {
            groups.push_back(Group{entry.name, {}});
        }
        groups[at->second].files.push_back(i);
    }
    std::vector<size_t> order(groups.size());
    for (size_t g = 0; g < order.size(); ++g) {
        order[g] = g;
    }
    std::stable_sort(order.begin(), order.end(), [&groups](size_t a, size_t b) {
        if (groups[a].name != groups[b].name) {
            return groups[a].name < groups[b].name;  // char_traits<char>: unsigned bytes
        }
        return a > b;
    });
    std::vector<Group> sorted;
    for (size_t g : order) {
        sorted.push_back(groups[g]);
    }
    return sorted;
}

TEST(TwinIndexReference, GivesTheReferenceGroupsAndReadsEveryFileBackAsItWentIn) {
    const std::vector<Generated> files = GenerateFiles(40000);
    for (uint8_t compare : {uint8_t(0), kCompareIgnoreSize, kCompareIgnoreTime,
                            uint8_t(kCompareIgnoreSize | kCompareIgnoreTime)}) {
        BinBaum index;
        std::vector<FileId> idOf;
        for (const Generated& file : files) {
            const BinBaum::Inserted inserted = index.Insert(file.folder, file.entry, compare);
            ASSERT_NE(inserted.result, BinBaum::InsertResult::LeftOut);
            idOf.push_back(inserted.file);
        }
        std::map<FileId, size_t> fileOfId;
        for (size_t i = 0; i < idOf.size(); ++i) {
            fileOfId[idOf[i]] = i;
        }

        std::vector<Group> found;
        uint64_t extraLinks = 0;
        for (BinBaum::Cursor it = index.First(); !it.AtEnd(); index.Next(it)) {
            const TreeNode node = it.Node();
            Group group{std::string(node.Name()), {}};
            std::vector<std::pair<uint64_t, uint64_t>> inodes;
            for (FileId id = node.FirstFile(); id != kNoFile; id = node.NextFile(id)) {
                const size_t i = fileOfId.at(id);
                const OwnedFileEntry& entry = files[i].entry;
                group.files.push_back(i);
                ASSERT_EQ(index.FilePath(node.Id(), id), files[i].folder + entry.name);
                ASSERT_EQ(index.FileFolder(id), files[i].folder);
                ASSERT_EQ(index.FileSize(id), entry.size);
                ASSERT_EQ(index.FileInode(id), entry.inode);
                ASSERT_EQ(index.FileDevice(id), entry.device);
                ASSERT_EQ(index.FileLastWriteTime(id), FileTimeOf(entry));
                // A hard link is no copy once its group holds the inode
                // (inodes of one link are never looked up).
                const std::pair<uint64_t, uint64_t> inode{entry.device, entry.inode};
                const bool seen = std::find(inodes.begin(), inodes.end(), inode) != inodes.end();
                ASSERT_EQ(index.FileIsExtraLink(id),
                          seen && entry.linkCount > 1 && entry.IsRegularFile())
                    << files[i].folder << entry.name;
                extraLinks += index.FileIsExtraLink(id);
                inodes.push_back(inode);
            }
            found.push_back(std::move(group));
        }
        const std::vector<Group> expected = ReferenceGroups(files, compare);
        ASSERT_EQ(found.size(), expected.size()) << "compare " << int(compare);
        for (size_t g = 0; g < found.size(); ++g) {
            ASSERT_EQ(found[g], expected[g]) << "group " << g << " compare " << int(compare);
        }
        EXPECT_EQ(index.ExtraLinkJoins(), extraLinks);
        EXPECT_GT(extraLinks, 100u);
    }
}

TEST(TwinIndexReference, FoldersOfAnyLengthAndDepthReadBackWhole) {
    // A chain walked down and back up, files at every level on both ways,
    // below a folder whose path is longer than a storage chunk, and a folder
    // entry with a whole path of that length.
    BinBaum index;
    std::string folder = "/" + std::string(70000, 'x') + "/";
    std::vector<std::string> levels;
    struct Stored {
        GroupId group;
        FileId file;
        std::string path;
    };
    std::vector<Stored> stored;
    auto add = [&](const std::string& at, const std::string& name) {
        const BinBaum::Inserted inserted =
            index.Insert(at, test::RegularFileEntry(name, at.size(), 0), 0);
        ASSERT_NE(inserted.result, BinBaum::InsertResult::LeftOut);
        stored.push_back(Stored{inserted.group, inserted.file, at + name});
    };
    for (int level = 0; level < 300; ++level) {
        folder += "d" + std::to_string(level) + "/";
        levels.push_back(folder);
        add(folder, "down" + std::to_string(level));
    }
    for (size_t level = levels.size(); level-- > 0;) {
        add(levels[level], "up" + std::to_string(level));
    }
    for (size_t level = 0; level < levels.size(); ++level) {
        add("/elsewhere/" + std::to_string(level) + "/", "side");
    }
    const std::string whole = levels.back() + "whole";
    const GroupId group = index.AddFolderGroup({BinBaum::FolderMember{whole, "whole", 1, 0, 0, 0}});
    for (const Stored& file : stored) {
        ASSERT_EQ(index.FilePath(file.group, file.file).size(), file.path.size());
        ASSERT_EQ(index.FilePath(file.group, file.file), file.path);
        ASSERT_EQ(index.FileFolder(file.file), file.path.substr(0, file.path.rfind('/') + 1));
    }
    EXPECT_EQ(index.FilePath(group, index.GroupFirstFile(group)), whole);
    // Each folder of the chain once, though met on the way down and up.
    EXPECT_EQ(index.FolderCount(), levels.size() + levels.size() + 1);
}

}  // namespace
}  // namespace quarn
