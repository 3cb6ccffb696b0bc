// A throwaway folder that a test works in: created, made current, and removed afterwards; the fixture of the unit
// tests and of the Windows-side tests, each on its test thread.
#pragma once
#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <random>
#include <string>
#ifdef _WIN32
#include <direct.h>
#define chdir _chdir
#else
#include <unistd.h>
#endif

class InTempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::random_device random;
        folder_ = std::filesystem::temp_directory_path() / ("launcher-test-" + std::to_string(random()));
        std::filesystem::create_directories(folder_);
        ASSERT_EQ(0, chdir(folder_.string().c_str()));
    }
    void TearDown() override {
        ASSERT_EQ(0, chdir(previous_.string().c_str()));
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    static void WriteFile(const std::string& name, const std::string& content) {
        FILE* file = fopen(name.c_str(), "wb");
        ASSERT_NE(nullptr, file) << name;
        fwrite(content.data(), 1, content.size(), file);
        fclose(file);
    }

    static bool IsDirectory(const std::string& name) { return std::filesystem::is_directory(name); }

    // The folder's full path, in the platform's own form.
    std::string FolderPath() const { return folder_.string(); }

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};
