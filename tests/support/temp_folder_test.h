#pragma once
// A test with its own temporary folder for the files it writes.

#include <QTemporaryDir>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/bmp_writer.h"

namespace plx::test {

class TempFolderTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    std::string path(const std::string& name) const {
        return m_dir.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        writeFile(path(name), bytes);
        return path(name);
    }
    QTemporaryDir m_dir;
};

}  // namespace plx::test
