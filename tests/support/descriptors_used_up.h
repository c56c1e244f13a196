// Runs this process out of descriptors for a test (Linux only).
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

// Lowers this process's descriptor limit to a little above the highest
// descriptor open, and takes every descriptor left under it. Gives them
// back, and the limit, when it goes.
class DescriptorsUsedUp {
public:
    DescriptorsUsedUp()
    {
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lower = saved_;
        lower.rlim_cur = static_cast<rlim_t>(highest + 16);
        setrlimit(RLIMIT_NOFILE, &lower);
        for (int fd; taken_.size() < lower.rlim_cur && (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            taken_.push_back(fd);
    }
    ~DescriptorsUsedUp()
    {
        GiveBack();
        setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorsUsedUp(const DescriptorsUsedUp&) = delete;
    DescriptorsUsedUp& operator=(const DescriptorsUsedUp&) = delete;

    void GiveBack()
    {
        for (int fd : taken_)
            close(fd);
        taken_.clear();
    }

private:
    rlimit saved_{};
    std::vector<int> taken_;
};
