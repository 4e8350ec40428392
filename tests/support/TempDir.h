// A temporary directory for one test, removed with everything in it.
#pragma once

#include <sys/stat.h>
#include <cstdlib>
#include <fstream>
#include <string>

struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/h8app-XXXXXX";
        path = mkdtemp(name) ? name : "";
    }
    ~TempDir() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
    std::string Sub(const std::string& rel) const { return path + "/" + rel; }
    std::string MakeDir(const std::string& rel) const {
        std::system(("mkdir -p '" + Sub(rel) + "'").c_str());
        return Sub(rel);
    }
    void Write(const std::string& rel, const std::string& content) const {
        std::ofstream(Sub(rel), std::ios::binary) << content;
    }
    std::string Read(const std::string& rel) const {
        std::ifstream in(Sub(rel), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Exists(const std::string& rel) const {
        struct stat st;
        return stat(Sub(rel).c_str(), &st) == 0;
    }
};
