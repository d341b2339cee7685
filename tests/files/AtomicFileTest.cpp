#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "TempFolder.h"
#include "files/AtomicFile.h"

namespace mb {
namespace {

namespace fs = std::filesystem;

// What a name of the folder holds, as one line: "file new 600", "link t", "pipe".
std::string Describe(const TempFolder& dir, const std::string& name) {
    const std::string path = dir / name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return "nothing";
    if (S_ISLNK(st.st_mode))
        return "link " + fs::read_symlink(path).string();
    if (S_ISFIFO(st.st_mode))
        return "pipe";
    if (S_ISCHR(st.st_mode))
        return "device";
    if (S_ISDIR(st.st_mode))
        return "folder";
    const std::vector<uint8_t> bytes = TempFolder::ReadBytes(path);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", st.st_mode & 0777);
    return "file " + std::string(bytes.begin(), bytes.end()) + " " + mode;
}

void MakeFile(const std::string& path, mode_t mode) {
    TempFolder::WriteBytes(path, {'o', 'l', 'd'});
    ::chmod(path.c_str(), mode);
}

// A device node like /dev/zero in the folder; false where only the superuser may make one.
bool MakeDevice(const std::string& path) {
    return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0;
}

TEST(AtomicFile, ReplacesOnlyARegularFileOrNothingAndKeepsItsMode) {
    struct Case {
        const char* what;
        // Makes what is there before; false when it cannot be made here.
        std::function<bool(const TempFolder&)> arrange;
        std::string cause;
        // Every name of the folder afterwards, and what it holds.
        std::map<std::string, std::string> after;
    };
    const Case cases[] = {
        {"a named pipe",
         [](const TempFolder& d) { return ::mkfifo((d / "t").c_str(), 0600) == 0; },
         "Not a regular file",
         {{"t", "pipe"}}},
        {"a device",
         [](const TempFolder& d) { return MakeDevice(d / "t"); },
         "Not a regular file",
         {{"t", "device"}}},
        {"a link to a device",
         [](const TempFolder& d) {
             fs::create_symlink("dev", d / "t");
             return MakeDevice(d / "dev");
         },
         "Not a regular file",
         {{"t", "link dev"}, {"dev", "device"}}},
        {"a folder",
         [](const TempFolder& d) { return fs::create_directory(d / "t"); },
         "Is a directory",
         {{"t", "folder"}}},
        {"a read-only file",
         [](const TempFolder& d) {
             MakeFile(d / "t", 0444);
             return true;
         },
         "Permission denied",
         {{"t", "file old 444"}}},
        {"a file of mode 600",
         [](const TempFolder& d) {
             MakeFile(d / "t", 0600);
             return true;
         },
         "",
         {{"t", "file new 600"}}},
        {"a link to a file",
         [](const TempFolder& d) {
             MakeFile(d / "f", 0640);
             fs::create_symlink("f", d / "t");
             return true;
         },
         "",
         {{"t", "link f"}, {"f", "file new 640"}}},
        {"a link to nothing yet",
         [](const TempFolder& d) {
             fs::create_symlink("made", d / "t");
             return true;
         },
         "",
         {{"t", "link made"}, {"made", "file new 644"}}},
    };
    const mode_t umask = ::umask(022);
    for (const Case& c : cases) {
        TempFolder dir;
        if (!c.arrange(dir))
            continue; // a device node needs the superuser
        const std::string text = "new";
        EXPECT_EQ(AtomicFile::Replace(dir / "t",
                                      {reinterpret_cast<const uint8_t*>(text.data()), text.size()}),
                  c.cause)
            << c.what;
        std::map<std::string, std::string> after;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            after[entry.path().filename().string()] =
                Describe(dir, entry.path().filename().string());
        EXPECT_EQ(after, c.after) << c.what;
    }
    ::umask(umask);
}

} // namespace
} // namespace mb
