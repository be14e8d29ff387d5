#include "common/posted_call.h"

#include <deque>
#include <mutex>

namespace {

// The calls waiting, under one lock made before any thread: Qt's event
// carries only the number of the call to take.
struct TWaiting {
    uint64_t id;
    const QObject* ctx;
    std::function<void()> fn;
};

std::mutex g_m;
std::deque<TWaiting> g_waiting;
uint64_t g_next = 0;

std::function<void()> Take(const QObject* ctx, uint64_t id)
{
    std::lock_guard<std::mutex> lock(g_m);
    std::function<void()> fn;
    for (auto it = g_waiting.begin(); it != g_waiting.end();) {
        if (it->ctx != ctx || it->id > id) {
            ++it;
            continue;
        }
        // Earlier ones for this address were dropped with an object that
        // lived there before.
        if (it->id == id) fn = std::move(it->fn);
        it = g_waiting.erase(it);
    }
    return fn;
}

}  // namespace

void PostCall(QObject* ctx, std::function<void()> fn)
{
    if (!ctx) return;
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(g_m);
        id = ++g_next;
        g_waiting.push_back({id, ctx, std::move(fn)});
    }
    QMetaObject::invokeMethod(
        ctx,
        [ctx, id] {
            if (std::function<void()> f = Take(ctx, id)) f();
        },
        Qt::QueuedConnection);
}
