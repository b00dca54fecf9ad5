#include "Subprocess.h"

#include <gio/gio.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "InterruptGuard.h"
#include "MainQueue.h"

namespace quav::toolkit::gtk {

struct SubprocessWatch {
  SubprocessWatch(GSubprocess* process, ChildProcess::OutputHandler output,
                  ChildProcess::TerminationHandler termination)
      : process(process), output(std::move(output)), termination(std::move(termination)) {}
  ~SubprocessWatch() {
    g_cancellable_cancel(cancellable);
    g_object_unref(cancellable);
    g_object_unref(process);
  }
  SubprocessWatch(const SubprocessWatch&) = delete;
  SubprocessWatch& operator=(const SubprocessWatch&) = delete;

  GSubprocess* process;
  GCancellable* cancellable = g_cancellable_new();
  std::optional<InterruptGuard> guard;
  ChildProcess::OutputHandler output;
  ChildProcess::TerminationHandler termination;
  bool ended = false;
};

namespace {

using WeakWatch = std::weak_ptr<SubprocessWatch>;

constexpr gsize kReadSize = 64 * 1024;

// Reads complete at the main queue's priority, below the toolkit's drawing: a server that
// floods its output neither freezes the window nor gets ahead of the main queue, so chunks
// waiting to be handed on never pile up, and the pipe keeps draining.
constexpr int kReadPriority = kMainQueuePriority;

void readNext(const std::shared_ptr<SubprocessWatch>& watch);

void onRead(GObject* stream, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakWatch> weak(static_cast<WeakWatch*>(data));
  GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(stream), result, nullptr);
  if (!bytes) return;  // cancelled, or the pipe failed: either way nothing more comes
  gsize size = 0;
  const auto* begin = static_cast<const char*>(g_bytes_get_data(bytes, &size));
  std::string chunk(begin ? begin : "", size);
  g_bytes_unref(bytes);
  auto watch = weak->lock();
  if (!watch || chunk.empty()) return;  // nobody watches any more, or the end of the output
  watch->output(std::move(chunk));
  readNext(watch);
}

void readNext(const std::shared_ptr<SubprocessWatch>& watch) {
  g_input_stream_read_bytes_async(g_subprocess_get_stdout_pipe(watch->process), kReadSize,
                                  kReadPriority, watch->cancellable, onRead, new WeakWatch(watch));
}

void onExit(GObject* process, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakWatch> weak(static_cast<WeakWatch*>(data));
  if (!g_subprocess_wait_finish(G_SUBPROCESS(process), result, nullptr)) return;  // cancelled
  auto watch = weak->lock();
  if (!watch) return;
  watch->ended = true;
  if (watch->termination) watch->termination();
}

// A process group of the child's own: a terminal's Ctrl-C or hangup reaches the launcher's
// group only, and the launcher passes it on as the child's one SIGINT. Runs between fork and
// exec, so async-signal-safe calls only.
void leaveLaunchersProcessGroup(gpointer) {
  setpgid(0, 0);
}

GSubprocess* spawn(const std::vector<const char*>& argv, GSubprocessFlags flags, GError** error) {
  GSubprocessLauncher* launcher = g_subprocess_launcher_new(flags);
  g_subprocess_launcher_set_child_setup(launcher, leaveLaunchersProcessGroup, nullptr, nullptr);
  GSubprocess* process = g_subprocess_launcher_spawnv(launcher, argv.data(), error);
  g_object_unref(launcher);
  return process;
}

}  // namespace

Subprocess::~Subprocess() = default;

void Subprocess::setExecutable(const std::filesystem::path& executable) {
  executable_ = executable;
}

void Subprocess::setArguments(const std::vector<std::string>& arguments) {
  arguments_ = arguments;
}

void Subprocess::setStandardOutputHandler(OutputHandler handler) {
  outputHandler_ = std::move(handler);
}

void Subprocess::setStandardErrorToNullDevice() {
  silenceStandardError_ = true;
}

void Subprocess::setTerminationHandler(TerminationHandler handler) {
  terminationHandler_ = std::move(handler);
}

std::optional<LaunchError> Subprocess::launch() {
  if (watch_) return LaunchError{"The process has already been launched."};
  int flags = G_SUBPROCESS_FLAGS_STDIN_INHERIT;
  if (outputHandler_) flags |= G_SUBPROCESS_FLAGS_STDOUT_PIPE;
  if (silenceStandardError_) flags |= G_SUBPROCESS_FLAGS_STDERR_SILENCE;
  std::vector<const char*> argv{executable_.c_str()};
  for (const auto& argument : arguments_) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  // GLib gives the child default handling of SIGINT whatever the launcher's is (a shell starts
  // background jobs with it ignored), so the server can always be stopped.
  GError* error = nullptr;
  GSubprocess* process = spawn(argv, static_cast<GSubprocessFlags>(flags), &error);
  if (!process) {
    LaunchError failure{error->message};
    g_error_free(error);
    return failure;
  }
  watch_ = std::make_shared<SubprocessWatch>(process, outputHandler_, terminationHandler_);
  watch_->guard = InterruptGuard::watch(std::stoi(g_subprocess_get_identifier(process)));
  if (outputHandler_) readNext(watch_);
  g_subprocess_wait_async(process, watch_->cancellable, onExit, new WeakWatch(watch_));
  return std::nullopt;
}

bool Subprocess::isRunning() const {
  return watch_ && !watch_->ended;
}

void Subprocess::interrupt() {
  if (!isRunning()) return;
  // Through the guard when there is one, so that its own SIGINT at the launcher's end is not a
  // second one.
  if (!watch_->guard || !watch_->guard->interrupt()) {
    g_subprocess_send_signal(watch_->process, SIGINT);
  }
}

}  // namespace quav::toolkit::gtk
