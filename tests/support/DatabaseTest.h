#pragma once

// Base fixture for tests of database files: a data folder of its own
// (TESSARON_HOME), statements with a 1 ms pause instead of 100 ms, and a recording message
// sink; everything is put back afterwards.

#include "tests/support/RecordingMessageSink.h"
#include "tests/support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QTemporaryDir dir_;
    ScopedEnvironment env_;
    std::shared_ptr<RecordingMessageSink> sink_;
};
