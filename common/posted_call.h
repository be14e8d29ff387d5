#pragma once
// Calls handed from one thread to the thread of a QObject, to run there in
// its event loop (dropped when the object is gone first). The call travels
// under a mutex of our own as well as through Qt's event queue, so the
// hand-over is visible to the thread checker, which cannot see into the
// library's own locking.
#include <QObject>
#include <functional>

void PostCall(QObject* ctx, std::function<void()> fn);
