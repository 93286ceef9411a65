// The Win32 platform layer and the messages built from its error codes.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "reader_thread/reader_thread.h"
#include "writer_thread/writer_thread.h"

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// A folder of its own under the system's temporary folder, removed at the end.
class TempFolder {
public:
    TempFolder() {
        path_ = fs::temp_directory_path() / ("vorlax-test-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::string read_all(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Win32Platform, NamesAndLimitsOfWindows) {
    EXPECT_STREQ(platform_default_prefix, ".\\");
    EXPECT_EQ(platform_max_path_bytes, 260u);
    EXPECT_TRUE(platform_is_unbuffered_refusal(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(platform_is_unbuffered_refusal(ERROR_DISK_FULL));
}

// The texts are the system's own and differ between Windows versions,
// languages and Wine, so only their shape is checked: one clause that the
// message can go on after.
TEST(Win32Platform, ErrorTextsAreTheSystemsWithoutLineEndOrFullStop) {
    for (int error : {ERROR_PATH_NOT_FOUND, ERROR_INVALID_PARAMETER, ERROR_DISK_FULL, ERROR_NOT_ENOUGH_MEMORY}) {
        std::string text = platform_error_text(error);
        ASSERT_FALSE(text.empty()) << error;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
        EXPECT_NE(text.back(), '.') << text;
        EXPECT_NE(text.back(), ' ') << text;
        EXPECT_EQ(text.find("system error"), std::string::npos) << error << " has a text of its own";
    }
    EXPECT_EQ(platform_error_text(0x7ffffff0), "system error 2147483632");
}

// An unbuffered write whose size is not a whole number of sectors is refused
// with ERROR_INVALID_PARAMETER; the line must say what to change.
TEST(Win32WriterMessages, EachFailureNamesTheFileTheReasonAndTheFix) {
    const WriterLayout unbuffered{3, "E:\\bench_03.BIN", 100, 3, false, 0, {"vorlax: "}};
    const std::string invalid = platform_error_text(ERROR_INVALID_PARAMETER);
    const std::string device_advice = "; look in Event Viewer (Windows Logs, System) for the device's errors";
    const std::string room_advice = "; free space, or write less: fewer threads or GB";
    const WriterLayout missing_folder{3, "C:\\no-such-folder\\bench_03.BIN", 100, 3, true, 0, {"vorlax: "}};
    const WriterLayout missing_drive{3, "Q:\\bench_03.BIN", 100, 3, true, 0, {"vorlax: "}};
    WriterLayout buffered = unbuffered;
    buffered.buffered = true;
    const struct {
        const WriterLayout* layout;
        WriterReport report;
        std::string text;
    } cases[] = {
        {&unbuffered, {WriterResult::write_failed, 0, 0, ERROR_INVALID_PARAMETER, 512},
         "vorlax: E:\\bench_03.BIN: unbuffered write refused after 0 blocks: " + invalid + "; the "
         "block size (3 KB) must be a whole multiple of the device's sector size (512 bytes here); use such a "
         "block size, or mode B"},
        {&unbuffered, {WriterResult::write_failed, 0, 0, ERROR_INVALID_PARAMETER, 0},
         "vorlax: E:\\bench_03.BIN: unbuffered write refused after 0 blocks: " + invalid + "; the "
         "block size (3 KB) must be a whole multiple of the device's sector size; use such a block size, or "
         "mode B"},
        {&buffered, {WriterResult::write_failed, 4, 0, ERROR_INVALID_PARAMETER, 0},
         "vorlax: E:\\bench_03.BIN: write failed after 4 blocks: " + invalid + device_advice},
        {&unbuffered, {WriterResult::open_failed, 0, 0, ERROR_INVALID_PARAMETER, 0},
         "vorlax: E:\\bench_03.BIN: cannot create for unbuffered writing: " + invalid + "; this file "
         "system does not accept writes that bypass the cache, use mode B"},
        {&missing_folder, {WriterResult::open_failed, 0, 0, ERROR_PATH_NOT_FOUND, 0},
         "vorlax: C:\\no-such-folder\\bench_03.BIN: cannot create: " + platform_error_text(ERROR_PATH_NOT_FOUND) +
             "; the folder C:\\no-such-folder does not exist: create it, or give a path in a folder that "
             "exists (the path is a prefix: C:\\no-such-folder\\bench gives C:\\no-such-folder\\bench_03.BIN)"},
        {&missing_drive, {WriterResult::open_failed, 0, 0, ERROR_PATH_NOT_FOUND, 0},
         "vorlax: Q:\\bench_03.BIN: cannot create: " + platform_error_text(ERROR_PATH_NOT_FOUND) +
             "; drive Q: does not exist: give a path on a drive that exists"},
        {&buffered, {WriterResult::write_failed, 7, 0, ERROR_DISK_FULL, 0},
         "vorlax: E:\\bench_03.BIN: write failed after 7 blocks: " + platform_error_text(ERROR_DISK_FULL) +
             room_advice},
    };
    for (const auto& c : cases) EXPECT_EQ(describe_writer_failure(*c.layout, c.report), c.text);
}

TEST(Win32Writer, WritesEveryBlockInBothModesAndCutsOldFiles) {
    TempFolder folder;
    for (bool buffered : {true, false}) {
        const std::string name = folder.file(buffered ? "b_03.BIN" : "u_03.BIN");
        { std::ofstream(name, std::ios::binary) << std::string(3000000, 'z'); }
        RunCounters counters;
        CaptureStdout();
        WriterReport report = write_test_file(WriterLayout{3, name, 300, 4, buffered, 0, {"vorlax: "}}, &counters);
        EXPECT_EQ(GetCapturedStdout(), "thread 3 done! 300\n");
        EXPECT_EQ(report.result, WriterResult::completed);
        EXPECT_EQ(run_total_kb(counters), 1200u);
        std::string data = read_all(name);
        ASSERT_EQ(data.size(), 300u * 4096u) << name;
        for (size_t block = 0; block < 300; ++block)
            ASSERT_EQ(data.compare(block * 4096, 4096, std::string(4096, static_cast<char>(block & 0xFF))), 0)
                << name << " block " << block;
    }
}

TEST(Win32Writer, MissingFolderFailsTheOpenWithThePathError) {
    TempFolder folder;
    const WriterLayout layout{3, folder.file("missing\\x_03.BIN"), 10, 4, true, 0, {"vorlax: "}};
    RunCounters counters;
    CaptureStdout();
    WriterReport report = write_test_file(layout, &counters);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(report.result, WriterResult::open_failed);
    EXPECT_EQ(report.error, ERROR_PATH_NOT_FOUND);
}

// The read calls: what the writer wrote reads back clean in both modes;
// a read at the end gets nothing, and a missing file its own error.
TEST(Win32Reader, ReadsBackWhatTheWriterWrote) {
    TempFolder folder;
    const std::string name = folder.file("r_03.BIN");
    RunCounters counters;
    CaptureStdout();
    write_test_file(WriterLayout{3, name, 300, 4, false, 0, {"vorlax: "}}, &counters);
    for (bool buffered : {true, false}) {
        const ReaderLayout layout{3, name, 300, 4, buffered, 1, {"vorlax-read: "}};
        EXPECT_TRUE(reader_report_clean(layout, read_test_file(layout, &counters))) << buffered;
    }
    GetCapturedStdout();
    int error = 0;
    char data[4096];
    size_t got = 1;
    FileHandle file = file_open_read(name.c_str(), true, &error, nullptr);
    EXPECT_TRUE(file_read_at(file, data, sizeof data, 300 * 4096, &got, &error));
    EXPECT_EQ(got, 0u);
    file_close(file);
    EXPECT_EQ(file_open_read(folder.file("none_03.BIN").c_str(), true, &error, nullptr), invalid_file);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
}

// A folder where a test file should be is told apart from other failures,
// for writing and reading alike.
TEST(Win32Platform, AFolderInAFilesPlaceIsSaidToBeOne) {
    TempFolder folder;
    const std::string name = folder.file("d_00.BIN");
    fs::create_directories(name);
    for (bool buffered : {true, false}) {
        int error = 0;
        EXPECT_EQ(file_create(name.c_str(), buffered, &error, nullptr), invalid_file);
        EXPECT_TRUE(platform_is_folder(error)) << error;
        error = 0;
        EXPECT_EQ(file_open_read(name.c_str(), buffered, &error, nullptr), invalid_file);
        EXPECT_TRUE(platform_is_folder(error)) << error;
    }
    EXPECT_FALSE(platform_is_folder(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(platform_is_missing_file(ERROR_FILE_NOT_FOUND));
}

// A file the writer wrote has no holes; a sparse file with a range zeroed
// has one there, where the file system keeps sparse files.
TEST(Win32Platform, HolesOfASparseFile) {
    TempFolder folder;
    const std::string name = folder.file("h_00.BIN");
    RunCounters counters;
    CaptureStdout();
    write_test_file(WriterLayout{0, name, 64, 64, true, 0, {"vorlax: "}}, &counters);
    GetCapturedStdout();
    int error = 0;
    ByteRange hole{};
    FileHandle file = file_open_read(name.c_str(), true, &error, nullptr);
    ASSERT_NE(file, invalid_file);
    EXPECT_FALSE(file_next_hole(file, 0, 64 * 65536, &hole));
    file_close(file);

    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD got = 0;
    FILE_ZERO_DATA_INFORMATION zero{};
    zero.FileOffset.QuadPart = 4 * 65536;
    zero.BeyondFinalZero.QuadPart = 6 * 65536;
    const bool sparse =
        DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &got, nullptr) &&
        DeviceIoControl(handle, FSCTL_SET_ZERO_DATA, &zero, sizeof zero, nullptr, 0, &got, nullptr);
    CloseHandle(handle);
    file = file_open_read(name.c_str(), true, &error, nullptr);
    ASSERT_NE(file, invalid_file);
    const bool found = file_next_hole(file, 0, 64 * 65536, &hole);
    file_close(file);
    if (!sparse || !found) GTEST_SKIP() << "this file system keeps no sparse files, or does not report their ranges";
    EXPECT_GE(hole.start_bytes, 4u * 65536);
    EXPECT_LE(hole.end_bytes, 6u * 65536);
    EXPECT_LT(hole.start_bytes, hole.end_bytes);
}

// A plain folder, or a missing one, is not said to compress.
TEST(Win32Platform, PlainFolderDoesNotCompress) {
    TempFolder folder;
    EXPECT_EQ(folder_compression(folder.file("").c_str()).kind, CompressionKind::none);
    EXPECT_EQ(folder_compression(folder.file("missing").c_str()).kind, CompressionKind::none);
}

// A folder and a file in it are on one volume; a missing path is on none.
TEST(Win32Platform, SameFileSystem) {
    TempFolder folder;
    const std::string file = folder.file("one.BIN");
    int error = 0;
    file_close(file_create(file.c_str(), true, &error, nullptr));
    EXPECT_TRUE(same_file_system(folder.file("").c_str(), file.c_str()));
    EXPECT_FALSE(same_file_system(folder.file("").c_str(), folder.file("missing").c_str()));
}

void set_signal(void* signal) {
    sleep_ms(20);
    signal_set(static_cast<DoneSignal*>(signal));
}

TEST(Win32Platform, ThreadsSignalsAndTheClock) {
    DoneSignal* signal = signal_create();
    const uint64_t start_ms = tick_ms();
    EXPECT_FALSE(signal_wait_ms(signal, 50));
    EXPECT_GE(tick_ms() - start_ms, 40u);

    ThreadHandle thread;
    int error = 0;
    ASSERT_TRUE(thread_start(set_signal, signal, &thread, &error)) << platform_error_text(error);
    EXPECT_TRUE(signal_wait_ms(signal, 10000));
    thread_join(thread);
    EXPECT_TRUE(signal_wait_ms(signal, 0)) << "a set signal stays set";
    signal_destroy(signal);

    void* pages = pages_alloc(3 * 1024, &error);
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % 4096, 0u);
    pages_free(pages, 3 * 1024);
    EXPECT_GT(available_memory_bytes(), 0u);
}

}  // namespace
