// The Linux platform layer on real files: what kind of file system holds a
// folder, the unbuffered alignment probe, and dropping and measuring a
// file's cached pages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "../support/scratch_dir.h"
#include "platform/platform.h"

namespace {

// The file system type of folder as stat(1) names it ("tmpfs", "ext2/ext3"),
// or "" when it cannot tell: an oracle apart from the code under test.
std::string file_system_name(const std::string& folder) {
    const std::string command = "stat -f -c %T '" + folder + "' 2>/dev/null";
    FILE* out = popen(command.c_str(), "r");
    if (!out) return std::string();
    char line[128] = "";
    if (!fgets(line, sizeof line, out)) line[0] = '\0';
    pclose(out);
    std::string name = line;
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
    return name;
}

void write_bytes(const std::string& name, size_t bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << std::string(bytes, 'v');
    ASSERT_TRUE(out.flush()) << name;
}

TEST(LinuxFolders, MemoryBackedIsTmpfsOrRamfsAsStatNamesThem) {
    ScratchDir scratch;
    ScratchDir disk(ScratchUse::disk);
    int checked = 0;
    for (const std::string& folder : {std::string("/dev/shm"), std::string("/"), std::string("/proc"), scratch.path(),
                                      disk.path()}) {
        const std::string type = folder.empty() ? "" : file_system_name(folder);
        if (type.empty()) continue;
        EXPECT_EQ(folder_is_memory_backed(folder.c_str()), type == "tmpfs" || type == "ramfs") << folder << ": " << type;
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "stat -f cannot name any file system here";
    EXPECT_FALSE(folder_is_memory_backed(scratch.file("missing").c_str()));
    // Neither tmpfs, ramfs nor the usual disk file systems compress.
    EXPECT_EQ(folder_compression(scratch.path().c_str()).kind, CompressionKind::none);
    EXPECT_EQ(folder_compression(scratch.file("missing").c_str()).kind, CompressionKind::none);
}

bool is_power_of_two(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The probe's answer is 0 (unknown) or a power of two of at least a sector,
// and where the folder takes O_DIRECT a write of that size goes through.
TEST(LinuxFiles, UnbufferedAlignmentIsASectorMultipleThatWorks) {
    ScratchDir scratch;
    ScratchDir disk(ScratchUse::disk);
    EXPECT_EQ(file_unbuffered_alignment_bytes(invalid_file), 0u);
    for (const std::string& folder : {scratch.path(), disk.path()}) {
        if (folder.empty()) continue;
        const std::string name = folder + "/a_00.BIN";
        write_bytes(name, 1);
        int fd = open(name.c_str(), O_WRONLY | O_DIRECT | O_CLOEXEC);
        if (fd < 0) fd = open(name.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << name << ": " << strerror(errno);
        const uint32_t align_bytes = file_unbuffered_alignment_bytes(fd);
        const bool direct = (fcntl(fd, F_GETFL) & O_DIRECT) != 0;
        close(fd);
        if (align_bytes == 0) continue;
        EXPECT_TRUE(is_power_of_two(align_bytes)) << name << ": " << align_bytes;
        EXPECT_GE(align_bytes, 512u) << name;
        if (!direct) continue;
        int error = 0;
        void* block = pages_alloc(align_bytes + 1, &error);
        ASSERT_NE(block, nullptr) << platform_error_text(error);
        memset(block, 'u', align_bytes + 1);
        for (size_t bytes : {size_t{align_bytes}, size_t{align_bytes} + 1}) {
            fd = open(name.c_str(), O_WRONLY | O_TRUNC | O_DIRECT | O_CLOEXEC);
            ASSERT_GE(fd, 0) << name << ": " << strerror(errno);
            size_t written = 0;
            const bool wrote = file_write(fd, block, bytes, &written, &error);
            close(fd);
            if (bytes == align_bytes) {
                EXPECT_TRUE(wrote) << name << ": " << align_bytes << " bytes: " << platform_error_text(error);
                EXPECT_EQ(written, bytes) << name;
            } else if (!wrote) {
                EXPECT_TRUE(platform_is_unbuffered_refusal(error)) << name << ": " << platform_error_text(error);
            }
        }
        pages_free(block, align_bytes + 1);
    }
    if (disk.path().empty()) GTEST_SKIP() << "probed in memory only: " << disk.disk_note();
}

// What cannot be looked at is unknown, and a missing file cannot be dropped.
TEST(LinuxFiles, CacheOfMissingOrEmptyFilesIsUnknown) {
    ScratchDir scratch;
    const std::string missing = scratch.file("none_00.BIN"), empty = scratch.file("empty_00.BIN");
    write_bytes(empty, 0);
    EXPECT_EQ(file_cache_residency(missing.c_str()), CacheResidency::unknown);
    EXPECT_EQ(file_cache_residency(empty.c_str()), CacheResidency::unknown);
    int error = 0;
    EXPECT_FALSE(file_drop_cached_pages(missing.c_str(), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_TRUE(file_drop_cached_pages(empty.c_str(), &error)) << platform_error_text(error);
}

// On a disk, written pages are held, dropped on request, and held again
// once read; sizes below a page, across pages and past the window measured.
TEST(LinuxFiles, DroppedPagesAreMeasuredAsDroppedOnADisk) {
    ScratchDir disk(ScratchUse::disk);
    if (disk.path().empty()) GTEST_SKIP() << disk.disk_note();
    for (size_t bytes : {size_t{100}, size_t{3 * 4096 + 1}, size_t{6} << 20}) {
        const std::string name = disk.file("c_00.BIN");
        write_bytes(name, bytes);
        EXPECT_EQ(file_cache_residency(name.c_str()), CacheResidency::stayed) << bytes << " bytes just written";
        int error = 0;
        ASSERT_TRUE(file_drop_cached_pages(name.c_str(), &error)) << name << ": " << platform_error_text(error);
        EXPECT_EQ(file_cache_residency(name.c_str()), CacheResidency::dropped) << bytes << " bytes";
        EXPECT_EQ(read_whole_file(name).size(), bytes);
        EXPECT_EQ(file_cache_residency(name.c_str()), CacheResidency::stayed) << bytes << " bytes read again";
    }
}

// In memory there is nowhere to drop pages to: the drop is not an error,
// and the measurement says the pages stayed.
TEST(LinuxFiles, PagesInMemoryStayAfterADrop) {
    ScratchDir scratch;
    if (!folder_is_memory_backed(scratch.path().c_str()))
        GTEST_SKIP() << scratch.path() << " is not tmpfs or ramfs; no memory-backed folder to try";
    const std::string name = scratch.file("m_00.BIN");
    write_bytes(name, 1 << 20);
    int error = 0;
    EXPECT_TRUE(file_drop_cached_pages(name.c_str(), &error)) << platform_error_text(error);
    EXPECT_EQ(file_cache_residency(name.c_str()), CacheResidency::stayed);
}

}  // namespace
