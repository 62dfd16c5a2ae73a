#pragma once

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lf::test {

// Points HOME and the XDG folders at a fresh temporary folder for the life of the object,
// so nothing a test does touches the real user's files.
class TempHome {
public:
    TempHome();
    ~TempHome();
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &relative) const { return m_dir.filePath(relative); }

private:
    QTemporaryDir m_dir;
};

// Base fixture: every test runs in its own temporary home.
class TempHomeTest : public ::testing::Test {
protected:
    TempHome home;
};

} // namespace lf::test
