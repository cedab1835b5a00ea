// Leaves this process exactly `spare` free descriptors: it lowers the limit of open
// descriptors to a little above the highest one open now and fills every free number below
// it but `spare`; at the end of the scope the fillers close and the old limit comes back.
// For tests of what the handheld does when the host runs out of descriptors. Every thread
// of the process shares them, so keep the scope to the calls under test.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace tova::testing {

class FewDescriptors {
public:
    explicit FewDescriptors(int spare) {
        ::getrlimit(RLIMIT_NOFILE, &old_);
        rlimit low = old_;
        low.rlim_cur = static_cast<rlim_t>(HighestOpen() + 1 + spare);
        ::setrlimit(RLIMIT_NOFILE, &low);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers_.push_back(fd);
        for (int i = 0; i < spare && !fillers_.empty(); ++i) {
            ::close(fillers_.back());
            fillers_.pop_back();
        }
    }
    ~FewDescriptors() {
        for (int fd : fillers_) ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &old_);
    }
    FewDescriptors(const FewDescriptors&) = delete;
    FewDescriptors& operator=(const FewDescriptors&) = delete;

private:
    static int HighestOpen() {
        int highest = 2;
        if (DIR* folder = ::opendir("/proc/self/fd")) {
            while (dirent* entry = ::readdir(folder)) {
                int fd = std::atoi(entry->d_name);
                if (fd > highest) highest = fd;
            }
            ::closedir(folder);
        }
        return highest;
    }

    rlimit old_{};
    std::vector<int> fillers_;
};

}  // namespace tova::testing
