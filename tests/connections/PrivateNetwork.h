#pragma once

// Tests that send to the network (Ableton Link's multicast) run only inside a private
// network namespace made for them, whose one interface is loopback. A test calls
// EnterPrivateNetwork first: inside such a namespace it sets loopback up (with
// multicast) and the test goes on; anywhere else it runs the same test again in a new
// namespace (unshare --net, as root) and the test itself stops there, its outcome being
// the inner run's. Where no namespace can be made the test is skipped, except in CI,
// where it fails. Nothing here ever lets a test go on with any interface but loopback.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <ifaddrs.h>
#include <net/if.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace mb::test {

inline constexpr const char* kPrivateNetworkVariable = "MARROWBEAT_PRIVATE_NETWORK";

// Whether every network interface there is is loopback.
inline bool OnlyLoopback() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool only = true;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next)
        only = only && std::string(i->ifa_name) == "lo";
    freeifaddrs(list);
    return only;
}

// Sets loopback up with multicast on, as `ip link set lo up multicast on` would; done
// here rather than by a child process, which ThreadSanitizer cannot follow.
inline bool LoopbackUp() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_MULTICAST);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    return ok;
}

inline int Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(-1))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// True when the test may go on: inside its own namespace, with loopback up. Otherwise
// the test has been run inside one (or skipped) and must return at once.
inline bool EnterPrivateNetwork() {
    if (std::getenv(kPrivateNetworkVariable) != nullptr) {
        // Checked before anything is changed: loopback is set up only in a namespace.
        if (!OnlyLoopback()) {
            ADD_FAILURE() << "an interface other than loopback is present: not a private network";
            return false;
        }
        if (!LoopbackUp()) {
            ADD_FAILURE() << "loopback could not be set up";
            return false;
        }
        return true;
    }
    const bool ci = std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true";
    if (Run("unshare", {"--net", "true"}) != 0) {
        if (ci)
            ADD_FAILURE() << "no private network namespace can be made (unshare --net, as root)";
        else
            [] { GTEST_SKIP() << "no private network namespace can be made here"; }();
        return false;
    }
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    QProcess inner;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kPrivateNetworkVariable, "1");
    inner.setProcessEnvironment(env);
    inner.setProcessChannelMode(QProcess::ForwardedChannels);
    inner.start("unshare",
                {"--net", "--", QString::fromStdString(self),
                 QString("--gtest_filter=%1.%2").arg(info->test_suite_name(), info->name())});
    EXPECT_TRUE(inner.waitForStarted());
    EXPECT_TRUE(inner.waitForFinished(-1));
    EXPECT_EQ(inner.exitCode(), 0) << "the test failed inside its private network";
    return false;
}

} // namespace mb::test
