#pragma once

#include <QString>
#include <QtGlobal>

#include <stdexcept>

namespace vk9::test {

// A fixture that cannot start, or a program that hangs or crashes, fails its test at once:
// QVERIFY in a constructor or a helper would only return from it and let the test go on.
// Qt Test reports the exception as a failure and stops.
[[noreturn]] inline void failTest(const QString& why) {
    qCritical("%s", qPrintable(why));
    throw std::runtime_error(why.toStdString());
}

} // namespace vk9::test
