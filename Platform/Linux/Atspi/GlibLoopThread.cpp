#include "Platform/Linux/Atspi/GlibLoopThread.hpp"

#include <memory>

#include "Runtime/RunSynchronously.hpp"

namespace quib {

GlibLoopThread::GlibLoopThread(std::string_view label)
    : context_(g_main_context_new()),
      loop_(g_main_loop_new(context_, FALSE)),
      thread_(label, [context = g_main_context_ref(context_), loop = g_main_loop_ref(loop_)] { run(context, loop); }) {}

GlibLoopThread::~GlibLoopThread() {
    post([loop = loop_] { g_main_loop_quit(loop); });
    // From a task of the loop's own, the thread ends once that task returns.
    thread_.join();
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

// Always through an idle source, so that tasks run on the loop's thread in the order posted,
// even before the loop has started.
void GlibLoopThread::post(Task task) {
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    auto dispatch = [](gpointer data) -> gboolean {
        (*static_cast<Task*>(data))();
        return G_SOURCE_REMOVE;
    };
    auto destroy = [](gpointer data) { std::unique_ptr<Task>(static_cast<Task*>(data)); };
    g_source_set_callback(source, dispatch, std::make_unique<Task>(std::move(task)).release(), destroy);
    g_source_attach(source, context_);
    g_source_unref(source);
}

bool GlibLoopThread::sync(const Task& task) { return runSynchronously(*this, task); }

// Once the loop quits, what is still pending runs before the thread ends. The thread holds
// references of its own, since it may outlive the object that started it.
void GlibLoopThread::run(GMainContext* context, GMainLoop* loop) {
    g_main_context_push_thread_default(context);
    g_main_loop_run(loop);
    while (g_main_context_iteration(context, FALSE)) {}
    g_main_context_pop_thread_default(context);
    g_main_loop_unref(loop);
    g_main_context_unref(context);
}

}  // namespace quib
