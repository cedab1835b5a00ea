// What every test binary that draws real Qt windows needs: one offscreen application for
// the whole run, and a way to tell whether a widget drew red text.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <memory>
#include <string>

namespace ui::qt::test_support {

// One application object for the whole binary, destroyed before exit so that Qt can
// release what it holds. Register it with ::testing::AddGlobalTestEnvironment.
class QtApplication : public ::testing::Environment {
public:
    explicit QtApplication(const char* programName);
    void SetUp() override;
    void TearDown() override;

private:
    std::string name_;
    int argc_ = 1;
    char* argv_[2] = {nullptr, nullptr};
    std::unique_ptr<QApplication> app_;
};

// Pixels whose colour is plainly red: the text colour of flagged lines, not antialiased grey.
int RedPixels(QWidget& widget);

}  // namespace ui::qt::test_support
