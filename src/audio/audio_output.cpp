#include "audio/audio_output.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "audio/miniaudio_config.h"

namespace {

// ALSA's and JACK's libraries report a missing sound card or server on standard error from
// inside miniaudio's backend probing. The show must stay quiet on such machines, so their
// message hooks are pointed at functions that drop the text. The libraries are opened here only
// to reach those hooks (miniaudio opens the same libraries, so the hooks apply to its calls);
// the handles stay open for the life of the process so the hooks stay installed.
extern "C" void DropAlsaMessage(const char*, int, const char*, int, const char*, ...) {}
extern "C" void DropJackMessage(const char*) {}

void QuietAudioLibraries() {
  if (void* alsa = dlopen("libasound.so.2", RTLD_NOW)) {
    using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetAlsaHandler = int (*)(AlsaHandler);
    if (auto set = reinterpret_cast<SetAlsaHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) {
      set(&DropAlsaMessage);
    }
  }
  for (const char* name : {"libjack.so.0", "libjack.so"}) {
    void* jack = dlopen(name, RTLD_NOW);
    if (!jack) continue;
    using SetJackHandler = void (*)(void (*)(const char*));
    if (auto set = reinterpret_cast<SetJackHandler>(dlsym(jack, "jack_set_error_function"))) {
      set(&DropJackMessage);
    }
    if (auto set = reinterpret_cast<SetJackHandler>(dlsym(jack, "jack_set_info_function"))) {
      set(&DropJackMessage);
    }
    break;
  }
}

// miniaudio's PulseAudio backend leaks its client context (about 20 KB) every time it fails to
// reach a server, which is every device start on a machine without one. A client can only reach
// a server through PULSE_SERVER or a native socket, so without either the backend is skipped.
bool PulseServerMayBeRunning() {
  const char* server = std::getenv("PULSE_SERVER");
  if (server && *server) return true;
  std::vector<std::string> sockets = {"/run/pulse/native", "/var/run/pulse/native",
                                      "/run/user/" + std::to_string(::getuid()) + "/pulse/native"};
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) sockets.push_back(std::string(runtime) + "/pulse/native");
  for (const std::string& socket : sockets) {
    if (::access(socket.c_str(), F_OK) == 0) return true;
  }
  return false;
}

// miniaudio's own order of the Linux backends, down to the null backend that plays into
// nothing in real time on machines without a sound card.
std::vector<ma_backend> PlaybackBackends() {
  std::vector<ma_backend> backends;
  if (PulseServerMayBeRunning()) backends.push_back(ma_backend_pulseaudio);
  backends.push_back(ma_backend_alsa);
  backends.push_back(ma_backend_jack);
  backends.push_back(ma_backend_null);
  return backends;
}

// ---- The stand-in backend of SetAudioDeviceFault ----

std::atomic<AudioDeviceFault> g_fault{AudioDeviceFault::kNone};

ma_result FaultContextUninit(ma_context*) { return MA_SUCCESS; }

ma_result FaultEnumerateDevices(ma_context*, ma_enum_devices_callback_proc, void*) { return MA_SUCCESS; }

ma_result FaultGetDeviceInfo(ma_context*, ma_device_type, const ma_device_id*, ma_device_info* info) {
  std::strcpy(info->name, "Failing test device");
  info->isDefault = MA_TRUE;
  return MA_SUCCESS;
}

ma_result FaultDeviceInit(ma_device*, const ma_device_config*, ma_device_descriptor* playback,
                          ma_device_descriptor*) {
  if (g_fault.load() == AudioDeviceFault::kInitFails) return MA_FAILED_TO_OPEN_BACKEND_DEVICE;
  playback->format = ma_format_f32;
  playback->channels = kAudioChannels;
  playback->sampleRate = kAudioSampleRate;
  playback->periodSizeInFrames = kAudioDefaultPeriodFrames;
  playback->periodCount = 2;
  return MA_SUCCESS;
}

ma_result FaultDeviceUninit(ma_device*) { return MA_SUCCESS; }

// Starting succeeds for the silent fault: the backend is asynchronous and simply never delivers.
ma_result FaultDeviceStart(ma_device*) {
  return g_fault.load() == AudioDeviceFault::kStartFails ? MA_FAILED_TO_START_BACKEND_DEVICE : MA_SUCCESS;
}

ma_result FaultDeviceStop(ma_device*) { return MA_SUCCESS; }

ma_result FaultContextInit(ma_context*, const ma_context_config*, ma_backend_callbacks* callbacks) {
  callbacks->onContextInit = FaultContextInit;
  callbacks->onContextUninit = FaultContextUninit;
  callbacks->onContextEnumerateDevices = FaultEnumerateDevices;
  callbacks->onContextGetDeviceInfo = FaultGetDeviceInfo;
  callbacks->onDeviceInit = FaultDeviceInit;
  callbacks->onDeviceUninit = FaultDeviceUninit;
  callbacks->onDeviceStart = FaultDeviceStart;
  callbacks->onDeviceStop = FaultDeviceStop;
  callbacks->onDeviceRead = nullptr;
  callbacks->onDeviceWrite = nullptr;
  callbacks->onDeviceDataLoop = nullptr;
  return MA_SUCCESS;
}

struct CallbackTarget {
  AudioRenderFunction render = nullptr;
  void* source = nullptr;
};

void DataCallback(ma_device* device, void* output, const void* /*input*/, ma_uint32 frames) {
  auto* target = static_cast<const CallbackTarget*>(device->pUserData);
  float* out = static_cast<float*>(output);
  if (!target) {
    RenderAudioBlock(nullptr, nullptr, out, frames);
    return;
  }
  RenderAudioBlock(target->render, target->source, out, frames);
}

}  // namespace

void SetAudioDeviceFault(AudioDeviceFault fault) { g_fault.store(fault); }

void RenderAudioBlock(AudioRenderFunction render, void* source, float* out, std::uint32_t frames) {
  if (!render || !source) {
    std::memset(out, 0, sizeof(float) * kAudioChannels * frames);
    return;
  }
  render(source, out, frames);
}

struct AudioDevice::Device {
  ma_device device;
  // Owns the callback target so its address stays fixed while miniaudio holds it.
  CallbackTarget target;
};

AudioDevice::AudioDevice() = default;

AudioDevice::~AudioDevice() { Uninit(); }

int AudioDevice::Init(AudioRenderFunction render, void* source) {
  Uninit();
  static std::once_flag quiet_once;
  std::call_once(quiet_once, QuietAudioLibraries);

  auto device = std::make_unique<Device>();
  device->target.render = render;
  device->target.source = source;

  ma_device_config config = ma_device_config_init(ma_device_type_playback);
  config.playback.format = ma_format_f32;
  config.playback.channels = kAudioChannels;
  config.sampleRate = kAudioSampleRate;
  config.dataCallback = DataCallback;
  config.pUserData = &device->target;

  // Each backend in turn, as the default context does, but never starting a JACK server or a
  // PulseAudio daemon as a side effect of opening the show.
  ma_context_config context_config = ma_context_config_init();
  context_config.jack.tryStartServer = MA_FALSE;
  context_config.pulse.tryAutoSpawn = MA_FALSE;
  std::vector<ma_backend> backends = PlaybackBackends();
  if (g_fault.load() != AudioDeviceFault::kNone) {
    backends = {ma_backend_custom};
    context_config.custom.onContextInit = FaultContextInit;
  }

  const ma_result result =
      ma_device_init_ex(backends.data(), static_cast<ma_uint32>(backends.size()), &context_config,
                        &config, &device->device);
  if (result != MA_SUCCESS) return static_cast<int>(result);
  device_ = std::move(device);
  return 0;
}

int AudioDevice::Start() {
  if (!device_) return static_cast<int>(MA_DEVICE_NOT_INITIALIZED);
  if (started_) return 0;
  const ma_result result = ma_device_start(&device_->device);
  if (result != MA_SUCCESS) return static_cast<int>(result);
  started_ = true;
  return 0;
}

void AudioDevice::Stop() {
  if (!device_ || !started_) return;
  ma_device_stop(&device_->device);
  started_ = false;
}

void AudioDevice::Uninit() {
  if (!device_) return;
  Stop();
  ma_device_uninit(&device_->device);
  device_.reset();
}

double AudioDevice::SampleRate() const {
  if (!device_ || device_->device.sampleRate == 0) return static_cast<double>(kAudioSampleRate);
  return static_cast<double>(device_->device.sampleRate);
}

std::string AudioDevice::BackendName() const {
  if (!device_ || !device_->device.pContext) return std::string();
  return ma_get_backend_name(device_->device.pContext->backend);
}
