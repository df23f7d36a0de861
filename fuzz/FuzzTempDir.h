// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>

namespace norvex::fuzz {

// One directory per process for the files a target writes, removed at exit.
struct TempDir {
    std::string path;
    TempDir() {
        // TMPDIR when set (the fuzz script points it at a memory file system).
        std::string name = (std::filesystem::temp_directory_path() / "norvex-fuzz-XXXXXX").string();
        if (!::mkdtemp(name.data())) std::abort();
        path = name;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

} // namespace norvex::fuzz
