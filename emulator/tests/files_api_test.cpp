// The file functions on the object store: creation dispositions, sharing, reading,
// writing, truncation, deletion, refused names.
#include "file_table.h"
#include "handheld_fixture.h"
#include "platform/wince/api.h"

namespace tova::testing {
namespace {

constexpr DWORD kSharingViolation = 32;

class FilesApiTest : public HandheldTest {
protected:
    void SetUp() override {
        HandheldTest::SetUp();
        MakeBooted();
        ASSERT_TRUE(M().Store().WriteFile(u"\\Temp\\existing.bin", Bytes("hello")));
    }
};

struct DispositionCase {
    const char* name;
    const char16_t* path;
    DWORD access;
    DWORD disposition;
    bool opens;
    DWORD error;          // GetLastError after the call
    const char* content;  // of the file afterwards, or null when it must not exist
};

TEST_F(FilesApiTest, CreationDispositions) {
    const DispositionCase cases[] = {
        {"create new, absent", u"\\Temp\\a.bin", GENERIC_WRITE, CREATE_NEW, true, 0, ""},
        {"create new, present", u"\\Temp\\existing.bin", GENERIC_WRITE, CREATE_NEW, false,
         ERROR_FILE_EXISTS, "hello"},
        {"create always, present", u"\\TEMP\\EXISTING.BIN", GENERIC_WRITE, CREATE_ALWAYS, true,
         ERROR_ALREADY_EXISTS, ""},
        {"create always, absent", u"\\Temp\\b.bin", GENERIC_WRITE, CREATE_ALWAYS, true, 0, ""},
        {"open existing, present", u"\\temp\\existing.bin", GENERIC_READ, OPEN_EXISTING, true, 0,
         "hello"},
        {"open existing, absent", u"\\Temp\\c.bin", GENERIC_READ, OPEN_EXISTING, false,
         ERROR_FILE_NOT_FOUND, nullptr},
        {"open always, absent", u"\\Temp\\d.bin", GENERIC_READ, OPEN_ALWAYS, true, 0, ""},
        {"open always, present", u"\\Temp\\existing.bin", GENERIC_READ, OPEN_ALWAYS, true,
         ERROR_ALREADY_EXISTS, "hello"},
        {"truncate existing", u"\\Temp\\existing.bin", GENERIC_WRITE, TRUNCATE_EXISTING, true, 0,
         ""},
        {"truncate absent", u"\\Temp\\e.bin", GENERIC_WRITE, TRUNCATE_EXISTING, false,
         ERROR_FILE_NOT_FOUND, nullptr},
        {"truncate without write access", u"\\Temp\\existing.bin", GENERIC_READ,
         TRUNCATE_EXISTING, false, ERROR_INVALID_PARAMETER, "hello"},
        {"missing folder", u"\\Nowhere\\f.bin", GENERIC_WRITE, CREATE_ALWAYS, false,
         ERROR_PATH_NOT_FOUND, nullptr},
        {"a folder", u"\\Temp", GENERIC_READ, OPEN_EXISTING, false, ERROR_ACCESS_DENIED, nullptr},
        {"parent escape", u"\\Temp\\..\\g.bin", GENERIC_WRITE, CREATE_ALWAYS, false,
         ERROR_INVALID_NAME, nullptr},
        {"host path", u"/tmp/h.bin", GENERIC_WRITE, CREATE_ALWAYS, false, ERROR_INVALID_NAME,
         nullptr},
        {"bad disposition", u"\\Temp\\i.bin", GENERIC_WRITE, 9, false, ERROR_INVALID_PARAMETER,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(M().Store().WriteFile(u"\\Temp\\existing.bin", Bytes("hello")));
        SetLastError(0xDEAD);
        HANDLE h = CreateFileW(c.path, c.access, 0, nullptr, c.disposition, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
        EXPECT_EQ(GetLastError(), c.error);
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h));
        }
        auto content = M().Store().ReadFile(c.path);
        if (c.content) {
            ASSERT_TRUE(content);
            EXPECT_EQ(*content, Bytes(c.content));
        } else {
            EXPECT_FALSE(content);
        }
    }
}

TEST_F(FilesApiTest, WriteReadSizeAndTruncate) {
    HANDLE w = CreateFileW(u"\\Temp\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(w, "0123456789", 10, &done, nullptr));
    EXPECT_EQ(done, 10u);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(w, &high), 10u);
    EXPECT_EQ(high, 0u);
    ASSERT_TRUE(CloseHandle(w));

    HANDLE r = CreateFileW(u"\\Temp\\DATA.BIN", GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    char buffer[16] = {};
    ASSERT_TRUE(ReadFile(r, buffer, 4, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "0123");
    ASSERT_TRUE(ReadFile(r, buffer, 16, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "456789");
    ASSERT_TRUE(ReadFile(r, buffer, 16, &done, nullptr));  // at the end: success, nothing read
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(WriteFile(r, "x", 1, &done, nullptr));      // opened for reading only
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetEndOfFile(r));
    ASSERT_TRUE(CloseHandle(r));

    HANDLE t = CreateFileW(u"\\Temp\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(ReadFile(t, buffer, 3, &done, nullptr));
    ASSERT_TRUE(SetEndOfFile(t));
    EXPECT_EQ(GetFileSize(t, nullptr), 3u);
    ASSERT_TRUE(CloseHandle(t));
    EXPECT_EQ(*M().Store().ReadFile(u"\\Temp\\data.bin"), Bytes("012"));
}

TEST_F(FilesApiTest, SharingRules) {
    HANDLE reader = CreateFileW(u"\\Temp\\existing.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    // Another reader that shares reading is fine; a writer is not.
    HANDLE second = CreateFileW(u"\\TEMP\\Existing.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileW(u"\\Temp\\existing.bin", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), kSharingViolation);
    // A reader that refuses to share reading conflicts with the open readers.
    EXPECT_EQ(CreateFileW(u"\\Temp\\existing.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    // An open file cannot be deleted.
    EXPECT_FALSE(DeleteFileW(u"\\Temp\\existing.bin"));
    EXPECT_EQ(GetLastError(), kSharingViolation);
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(CloseHandle(second));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(DeleteFileW(u"\\temp\\EXISTING.bin"));
    EXPECT_FALSE(M().Store().Exists(u"\\Temp\\existing.bin"));
}

struct DeleteCase {
    const char16_t* path;
    DWORD error;
};

TEST_F(FilesApiTest, DeleteErrors) {
    const DeleteCase cases[] = {
        {u"\\Temp\\absent.bin", ERROR_FILE_NOT_FOUND},
        {u"\\Absent\\file.bin", ERROR_PATH_NOT_FOUND},
        {u"\\Temp", ERROR_ACCESS_DENIED},
        {u"\\Temp\\..\\..\\etc\\passwd", ERROR_INVALID_NAME},
        {u"C:\\autoexec.bat", ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(DeleteFileW(c.path)) << ToUtf8(c.path);
        EXPECT_EQ(GetLastError(), c.error) << ToUtf8(c.path);
    }
}

// The handheld's handles run out before the host's descriptors (whose end would also starve
// the link): the failure says so in the handheld's terms, creates nothing, and a closed
// handle makes room again.
TEST_F(FilesApiTest, RunningOutOfHandlesIsTooManyOpenFiles) {
    auto openUntilRefused = [](std::vector<HANDLE>* open) {
        for (size_t i = 0; i <= FileTable::kMaxOpenFiles; ++i) {
            HANDLE h = CreateFileW(u"\\Temp\\existing.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE) return GetLastError();
            open->push_back(h);
        }
        return DWORD(ERROR_SUCCESS);
    };
    std::vector<HANDLE> open;
    EXPECT_EQ(openUntilRefused(&open), DWORD(ERROR_TOO_MANY_OPEN_FILES));
    EXPECT_EQ(open.size(), FileTable::kMaxOpenFiles);
    EXPECT_EQ(CreateFileW(u"\\Temp\\new.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_TOO_MANY_OPEN_FILES));
    EXPECT_FALSE(M().Store().Exists(u"\\Temp\\new.bin"));
    ASSERT_TRUE(CloseHandle(open.back()));
    open.pop_back();
    HANDLE again = CreateFileW(u"\\Temp\\new.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    open.push_back(again);
    for (HANDLE h : open) EXPECT_TRUE(CloseHandle(h));
}

TEST_F(FilesApiTest, HandlesDoNotSurviveAReset) {
    HANDLE h = CreateFileW(u"\\Temp\\existing.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ResetAndWait(ResetKind::kWarm);
    char buffer[4];
    DWORD done = 0;
    EXPECT_FALSE(ReadFile(h, buffer, 4, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(DeleteFileW(u"\\Temp\\existing.bin"));
}

}  // namespace
}  // namespace tova::testing
