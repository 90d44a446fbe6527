#pragma once

#include <QString>
#include <QtGlobal>

#include <stdexcept>

namespace vk9::test {

// A fixture that cannot start fails its test: QVERIFY in a constructor would only return
// from the constructor and let the test go on. Qt Test reports the exception as a failure.
[[noreturn]] inline void cannotStart(const QString& what) {
    qCritical("fixture: %s", qPrintable(what));
    throw std::runtime_error(what.toStdString());
}

} // namespace vk9::test
