#include "tests/app/HungFolder.h"

#include <condition_variable>
#include <dirent.h>
#include <dlfcn.h>
#include <mutex>
#include <string_view>

namespace pelbrisk::test {

namespace {

std::mutex lock;
std::condition_variable released;
std::string hungName;
std::chrono::milliseconds longestHang{0};
int caught = 0;

void WaitIfHung(std::string_view path) {
    std::unique_lock held(lock);
    if (hungName.empty() || !path.ends_with(hungName)) return;
    ++caught;
    released.wait_for(held, longestHang, [] { return hungName.empty(); });
    --caught;
}

} // namespace

THungFolder::THungFolder(const std::string& name, std::chrono::milliseconds longest) {
    const std::lock_guard held(lock);
    hungName = "/" + name;
    longestHang = longest;
}

THungFolder::~THungFolder() {
    Release();
}

bool THungFolder::Caught() const {
    const std::lock_guard held(lock);
    return caught > 0;
}

void THungFolder::Release() {
    {
        const std::lock_guard held(lock);
        hungName.clear();
    }
    released.notify_all();
}

} // namespace pelbrisk::test

// Every folder listing of this test program comes here first, the window's scans included.
extern "C" DIR* opendir(const char* name) {
    using TOpenDir = DIR* (*)(const char*);
    static const auto next = reinterpret_cast<TOpenDir>(dlsym(RTLD_NEXT, "opendir"));
    pelbrisk::test::WaitIfHung(name);
    return next(name);
}
