#include "qtiothread.h"

#include <clocale>
#include <string>

namespace canapi {

namespace {

QCoreApplication *applicationIfNone()
{
    if (QCoreApplication::instance() != nullptr)
        return nullptr;
    static int argc = 1;
    static char name[] = "tarvcanapi";
    static char *argv[] = {name, nullptr};
    // The application object sets the C locale from the environment; the
    // host did not ask for that.
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    auto *application = new QCoreApplication(argc, argv);
    std::setlocale(LC_ALL, locale.c_str());
    return application;
}

} // namespace

QtIoThread::QtIoThread()
    : application_(applicationIfNone())
    , context_(new QObject)
{
    thread_.setObjectName(QStringLiteral("tarvcanapi-io"));
    context_->moveToThread(&thread_);
    thread_.start();
}

QtIoThread::~QtIoThread()
{
    thread_.quit();
    thread_.wait();
    // The thread has ended, so its objects may go from here.
    delete context_;
}

void QtIoThread::runBlocking(const std::function<void()> &fn)
{
    if (QThread::currentThread() == &thread_) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context_, fn, Qt::BlockingQueuedConnection);
}

} // namespace canapi
