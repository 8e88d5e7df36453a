#include "audio/xm_player.h"

#include <xmp.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kDefaultBpm = 125;
constexpr float kSampleScale = 1.35f / 32768.0f;  // 16-bit sample to the show's level
constexpr std::size_t kFrameFields = 10;          // FrameInfo's scalar fields, in order

xmp_context Context(void* context) {
  return static_cast<xmp_context>(context);
}

const xmp_module* Module(const void* module) {
  return static_cast<const xmp_module*>(module);
}

float ClampVolume(float x) {
  if (!(x >= 0.0f)) return 0.0f;
  return x > 1.0f ? 1.0f : x;
}

// Whether order `order` of the song names a pattern the module holds. libxmp's loaders keep order
// entries beyond the pattern count (players skip them), but xmp_set_row looks the entry's pattern
// up without a check, so a damaged module would make it read outside the pattern table.
bool OrderHasPattern(const xmp_module* mod, int order) {
  if (!mod || order < 0 || order >= mod->len) return false;
  const int pattern = mod->xxo[order];
  return pattern >= 0 && pattern < mod->pat && mod->xxp[pattern] != nullptr;
}

// The text libxmp keeps in a fixed-size field, which need not hold a terminator.
std::string FieldText(const char* field, std::size_t size) {
  return std::string(field, strnlen(field, size));
}

}  // namespace

int InspectXmModule(const std::vector<std::uint8_t>& bytes, XmModuleFacts& facts) {
  facts = XmModuleFacts{};
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(LONG_MAX)) return -XMP_ERROR_LOAD;
  xmp_context context = xmp_create_context();
  if (!context) return -XMP_ERROR_SYSTEM;
  const int error = xmp_load_module_from_memory(context, bytes.data(), static_cast<long>(bytes.size()));
  if (error != 0) {
    xmp_free_context(context);
    return error;
  }
  xmp_module_info info;
  xmp_get_module_info(context, &info);
  const xmp_module* mod = info.mod;
  facts.name = FieldText(mod->name, sizeof mod->name);
  facts.type = FieldText(mod->type, sizeof mod->type);
  facts.orders = mod->len;
  facts.patterns = mod->pat;
  facts.channels = mod->chn;
  facts.instruments = mod->ins;
  facts.samples = mod->smp;
  facts.speed = mod->spd;
  facts.bpm = mod->bpm;
  facts.restart = mod->rst;
  facts.total_ms = info.seq_data && info.num_sequences > 0 ? info.seq_data[0].duration : 0;
  xmp_release_module(context);
  xmp_free_context(context);
  return 0;
}

XmPlayer::XmPlayer() {
  Publish(FrameInfo{});
}

XmPlayer::~XmPlayer() {
  Stop();
}

void XmPlayer::SetModuleData(const std::string& path, std::vector<std::uint8_t> bytes) {
  if (playing_) return;
  module_path_ = path.empty() ? kDefaultXmModulePath : path;
  source_name_ = module_path_;
  module_data_ = std::move(bytes);
}

void XmPlayer::SetModulePath(const std::string& path) {
  if (playing_) return;
  module_path_ = path.empty() ? kDefaultXmModulePath : path;
  source_name_.clear();
  module_data_.clear();
  module_data_.shrink_to_fit();
}

void XmPlayer::SetVolume(float volume) {
  volume_.store(ClampVolume(volume), std::memory_order_relaxed);
}

std::string XmPlayer::FailureText(const char* format, int code) const {
  char text[64];
  std::snprintf(text, sizeof text, format, code);
  return text;
}

bool XmPlayer::LoadAndStartPlayer() {
  // 1. A fresh libxmp context.
  context_ = xmp_create_context();
  if (!context_) {
    status_ = "XM context creation failed";
    return false;
  }

  // 2. The module, from the held bytes or from the file.
  int error = 0;
  if (!module_data_.empty()) {
    if (module_data_.size() > 2147483647u) {
      status_ = "XM load failed: module data too large";
      Release();
      return false;
    }
    error = xmp_load_module_from_memory(Context(context_), module_data_.data(),
                                        static_cast<long>(module_data_.size()));
  } else {
    error = xmp_load_module(Context(context_), module_path_.c_str());
  }
  // A module without channels loads, but libxmp's renderer never finishes a block of it: it is
  // refused as a module libxmp cannot play.
  if (error == 0) {
    xmp_module_info loaded;
    xmp_get_module_info(Context(context_), &loaded);
    if (!loaded.mod || loaded.mod->chn < 1) {
      xmp_release_module(Context(context_));
      error = -XMP_ERROR_FORMAT;
    }
  }
  if (error != 0) {
    const std::string& name = source_name_.empty() ? module_path_ : source_name_;
    char text[64];
    std::snprintf(text, sizeof text, "XM load failed (%d): ", error);
    status_ = text + name;
    Release();
    return false;
  }

  // 3. Its name and type.
  module_loaded_ = true;
  xmp_module_info info;
  xmp_get_module_info(Context(context_), &info);
  module_ = info.mod;
  const std::string name = FieldText(info.mod->name, sizeof info.mod->name);
  const std::string type = FieldText(info.mod->type, sizeof info.mod->type);
  title_ = name.empty() ? "Untitled XM" : name;
  type_ = type.empty() ? "XM module" : type;

  // 4. The player at the show's rate, full module volume.
  error = xmp_start_player(Context(context_), static_cast<int>(kRate), 0);
  if (error != 0) {
    status_ = FailureText("XM start failed (%d)", error);
    Release();
    return false;
  }
  player_started_ = true;
  xmp_set_player(Context(context_), XMP_PLAYER_VOLUME, 100);
  device_rate_ = kRate;
  // The callback renders into this buffer and never resizes it.
  render_buffer_.assign(static_cast<std::size_t>(kRenderChunkFrames) * kAudioChannels, 0);
  FrameInfo initial;
  initial.bpm = Module(module_)->bpm >= 1 ? Module(module_)->bpm : kDefaultBpm;
  Publish(initial);
  UpdateFrameInfo();
  return true;
}

bool XmPlayer::Start() {
  if (playing_) return true;
  Release();
  if (!LoadAndStartPlayer()) return false;

  // 5. The device.
  const int init_error = device_.Init(&XmPlayer::DeviceRender, this);
  if (init_error != 0) {
    status_ = FailureText("Audio init failed (%d)", init_error);
    Release();
    return false;
  }
  device_ready_ = true;
  const int start_error = device_.Start();
  if (start_error != 0) {
    status_ = FailureText("Audio start failed (%d)", start_error);
    device_.Uninit();
    device_ready_ = false;
    Release();
    return false;
  }

  // 6. Playing.
  playing_ = true;
  status_ = "XM playing: " + title_;
  return true;
}

bool XmPlayer::BeginOfflineRender() {
  if (playing_) return false;
  Release();
  if (!LoadAndStartPlayer()) return false;
  status_ = "XM playing: " + title_;
  return true;
}

void XmPlayer::Stop() {
  if (playing_) device_.Stop();
  if (device_ready_) device_.Uninit();
  device_ready_ = false;
  playing_ = false;
  Release();
  status_ = "XM stopped";
}

void XmPlayer::Release() {
  // The tempo the module starts with stays the clock's tempo while nothing plays.
  const int bpm = module_ && Module(module_)->bpm >= 1 ? Module(module_)->bpm : kDefaultBpm;
  if (context_) {
    if (player_started_) xmp_end_player(Context(context_));
    if (module_loaded_) xmp_release_module(Context(context_));
    xmp_free_context(Context(context_));
  }
  context_ = nullptr;
  player_started_ = false;
  module_loaded_ = false;
  module_ = nullptr;
  title_ = "XM module";
  type_ = "FastTracker module";
  FrameInfo initial;
  initial.bpm = bpm;
  Publish(initial);
  level_.store(0.0f, std::memory_order_relaxed);
}

bool XmPlayer::SeekToOrder(double x) {
  if (!context_ || !player_started_ || !module_) return false;
  const bool was_playing = playing_;
  if (was_playing) device_.Stop();

  // Wrap into the song: 5.5 in a 4-order song is order 1, half way down its pattern.
  const int L = std::max(Module(module_)->len, 1);
  const float Lf = static_cast<float>(L);
  float p = std::fmod(static_cast<float>(x), Lf);
  if (!std::isfinite(p)) p = 0.0f;
  if (p < 0.0f) p += Lf;
  const int order = std::clamp(static_cast<int>(std::floor(p)), 0, L - 1);

  // libxmp answers order 0 with -1 (it restarts the sequence there); its errors are lower.
  bool ok = xmp_set_position(Context(context_), order) >= -1;
  if (ok) {
    UpdateFrameInfo();
    // xmp_set_row works on libxmp's current order (order 0 when that lies outside the song); an
    // order without a pattern stays at its start.
    const int now = ReadFrameInfo().order;
    const int current = now >= 0 && now < Module(module_)->len ? now : 0;
    if (OrderHasPattern(Module(module_), order) && OrderHasPattern(Module(module_), current)) {
      const int rows = std::max(ReadFrameInfo().rows, 1);
      const float within = (p - static_cast<float>(order)) * static_cast<float>(rows);
      const int row = std::clamp(static_cast<int>(std::floor(within)), 0, rows - 1);
      ok = xmp_set_row(Context(context_), row) >= 0;
    }
  }
  if (ok) {
    level_.store(0.0f, std::memory_order_relaxed);
    FrameInfo cleared = ReadFrameInfo();
    std::fill(std::begin(cleared.note), std::end(cleared.note), 0);
    std::fill(std::begin(cleared.volume), std::end(cleared.volume), 0);
    Publish(cleared);
    UpdateFrameInfo();
  }

  if (was_playing) {
    const int restart_error = device_.Start();
    if (restart_error != 0) {
      status_ = FailureText("XM seek restart failed (%d)", restart_error);
      playing_ = false;
      return false;
    }
    playing_ = true;
  }
  return ok;
}

MusicPosition XmPlayer::GetPosition() const {
  const FrameInfo f = ReadFrameInfo();
  MusicPosition position;
  position.seconds = static_cast<double>(f.time_ms) * 0.001;
  position.bpm = static_cast<float>(f.bpm);
  position.beats = static_cast<float>(position.bpm * position.seconds / 60.0);
  position.bars =
      static_cast<float>(f.order) + static_cast<float>(f.row) / static_cast<float>(std::max(f.rows, 1));
  position.level = level_.load(std::memory_order_relaxed);
  return position;
}

TrackerSnapshot XmPlayer::GetVizSnapshot() const {
  const FrameInfo f = ReadFrameInfo();
  const float level = level_.load(std::memory_order_relaxed);
  const xmp_module* mod = Module(module_);
  const int channels = mod ? mod->chn : 0;

  TrackerSnapshot snap;
  snap.source = 1;
  snap.title = title_;
  snap.type = type_;
  const int rows = std::max(f.rows, 1);
  snap.position = static_cast<float>(f.order) + static_cast<float>(f.row) / static_cast<float>(rows);
  snap.bpm = static_cast<float>(f.bpm);
  snap.beats = static_cast<float>(static_cast<double>(f.time_ms) * f.bpm / 60000.0);
  const float phase = static_cast<float>(f.tick) / static_cast<float>(std::max(f.speed, 1));
  snap.step_phase = std::clamp(phase, 0.0f, 1.0f);

  // Channel volumes 0 ... 64 as 0 ... 1; the first eight channels drive the display.
  float sum = 0.0f;
  for (int c = 0; c < kTrackerChannels; ++c) {
    const bool present = c < std::min(channels, kMaxChannels);
    const float v = present ? std::clamp(static_cast<float>(f.volume[c]) / 64.0f, 0.0f, 1.0f) : 0.0f;
    snap.channel_volume[c] = v;
    snap.channel_note[c] = present ? f.note[c] : 0;
    sum += v;
  }
  const std::array<float, kTrackerChannels>& v = snap.channel_volume;
  const float mean = sum / static_cast<float>(kTrackerChannels);
  snap.kick = 2.4f * level;
  snap.perc = mean;
  snap.bass = v[0] + 0.5f * v[1];
  snap.lead = v[2] + 0.5f * v[3];
  snap.pad = mean;
  snap.clap = v[4];
  snap.hat = v[5];
  snap.ride = v[6];
  snap.impact = level > 0.18f ? (level - 0.18f) * 4.0f : 0.0f;
  snap.build = channels > 0 ? static_cast<float>(f.voices) / static_cast<float>(channels) : 0.0f;
  snap.fill = 0.0f;
  snap.bar_index = f.order;
  snap.beat = f.row & 3;
  snap.step = f.row;
  snap.bar_in_8 = f.order & 7;
  snap.order = f.order;
  snap.length = mod ? mod->len : 0;
  snap.pattern = f.pattern;
  snap.rows = rows;
  snap.channels = channels;
  snap.speed = std::max(f.speed, 1);
  snap.voices = f.voices;
  snap.total_ms = f.total_ms;

  // Rows current - 10 ... current + 10 of the current pattern, as the module stores them.
  if (!mod || f.pattern < 0 || f.pattern >= mod->pat || !mod->xxp[f.pattern]) return snap;
  const xmp_pattern* pattern = mod->xxp[f.pattern];
  const int shown = std::min(channels, kTrackerChannels);
  for (int i = 0; i < kTrackerVisibleRows; ++i) {
    const int r = f.row - kTrackerVisibleRows / 2 + i;
    if (r < 0 || r >= pattern->rows) continue;
    TrackerRow& row = snap.pattern_rows[i];
    row.row = r;
    for (int c = 0; c < shown; ++c) {
      const int t = pattern->index[c];
      if (t < 0 || t >= mod->trk) continue;
      const xmp_track* track = mod->xxt[t];
      if (!track || r >= track->rows) continue;
      const xmp_event& e = track->event[r];
      row.channels[c] = TrackerCell{e.note, e.ins, e.vol, e.fxt, e.fxp, e.f2t, e.f2p};
    }
  }
  return snap;
}

void XmPlayer::RenderOffline(float* out, std::uint32_t frames) {
  // The device's thread owns libxmp while it plays.
  if (playing_) {
    RenderAudioBlock(nullptr, nullptr, out, frames);
    return;
  }
  RenderBlock(out, frames);
}

void XmPlayer::DeviceRender(void* self, float* out, std::uint32_t frames) {
  static_cast<XmPlayer*>(self)->RenderBlock(out, frames);
}

void XmPlayer::RenderBlock(float* out, std::uint32_t frames) {
  if (!context_ || !player_started_ || render_buffer_.empty()) {
    RenderAudioBlock(nullptr, nullptr, out, frames);
    return;
  }
  const float volume = ClampVolume(volume_.load(std::memory_order_relaxed));
  const float gain = kSampleScale * volume;
  std::int16_t* buffer = render_buffer_.data();
  double sum_of_squares = 0.0;

  for (std::uint32_t done = 0; done < frames;) {
    const std::uint32_t n = std::min(frames - done, kRenderChunkFrames);
    const int bytes = static_cast<int>(n * kAudioChannels * sizeof(std::int16_t));
    // libxmp wraps at the song's end itself (loop count 0): asked to stop after one pass, it
    // pads the block in which the pass ends with silence, an audible gap at every loop. Should
    // it report the end all the same, the module starts again from order 0.
    int result = xmp_play_buffer(Context(context_), buffer, bytes, 0);
    if (result == -XMP_END) {
      xmp_restart_module(Context(context_));
      result = xmp_play_buffer(Context(context_), buffer, bytes, 0);
    }
    if (result != 0) {
      RenderAudioBlock(nullptr, nullptr, out, frames);
      level_.store(0.0f, std::memory_order_relaxed);
      UpdateFrameInfo();
      return;
    }
    float* block = out + static_cast<std::size_t>(done) * kAudioChannels;
    for (std::uint32_t i = 0; i < n * kAudioChannels; ++i) {
      const float x = static_cast<float>(buffer[i]) * gain;
      const float y = SoftClip(x);
      block[i] = y;
      sum_of_squares += static_cast<double>(y) * y;
    }
    done += n;
  }

  const float level = level_.load(std::memory_order_relaxed);
  level_.store(SmoothLevel(level, sum_of_squares, static_cast<std::size_t>(frames) * kAudioChannels),
               std::memory_order_relaxed);
  UpdateFrameInfo();
}

void XmPlayer::UpdateFrameInfo() {
  if (!context_ || !player_started_) return;
  xmp_frame_info fi;
  xmp_get_frame_info(Context(context_), &fi);
  FrameInfo f;
  f.order = fi.pos;
  f.pattern = fi.pattern;
  f.row = fi.row;
  f.tick = fi.frame;
  f.rows = std::max(fi.num_rows, 1);
  f.speed = std::max(fi.speed, 1);
  f.bpm = std::max(fi.bpm, 1);
  f.time_ms = std::max(fi.time, 0);
  f.total_ms = std::max(fi.total_time, 0);
  f.voices = std::max(fi.virt_used, 0);
  const int channels = module_ ? std::min(Module(module_)->chn, kMaxChannels) : 0;
  for (int c = 0; c < channels; ++c) {
    f.note[c] = fi.channel_info[c].note;
    f.volume[c] = fi.channel_info[c].volume;
  }
  Publish(f);
}

void XmPlayer::Publish(const FrameInfo& f) {
  std::atomic<std::int32_t>* v = published_.values;
  const std::uint32_t s = published_.sequence.load(std::memory_order_relaxed);
  published_.sequence.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  const std::int32_t scalars[kFrameFields] = {f.order, f.pattern, f.row,     f.rows,     f.tick,
                                              f.speed, f.bpm,     f.time_ms, f.total_ms, f.voices};
  for (std::size_t i = 0; i < kFrameFields; ++i) v[i].store(scalars[i], std::memory_order_relaxed);
  for (int c = 0; c < kMaxChannels; ++c) {
    v[kFrameFields + c].store(f.note[c], std::memory_order_relaxed);
    v[kFrameFields + kMaxChannels + c].store(f.volume[c], std::memory_order_relaxed);
  }
  published_.sequence.store(s + 2, std::memory_order_release);
}

XmPlayer::FrameInfo XmPlayer::ReadFrameInfo() const {
  const std::atomic<std::int32_t>* v = published_.values;
  FrameInfo f;
  for (;;) {
    const std::uint32_t before = published_.sequence.load(std::memory_order_acquire);
    std::int32_t scalars[kFrameFields];
    for (std::size_t i = 0; i < kFrameFields; ++i) scalars[i] = v[i].load(std::memory_order_relaxed);
    for (int c = 0; c < kMaxChannels; ++c) {
      f.note[c] = v[kFrameFields + c].load(std::memory_order_relaxed);
      f.volume[c] = v[kFrameFields + kMaxChannels + c].load(std::memory_order_relaxed);
    }
    std::atomic_thread_fence(std::memory_order_acquire);
    const std::uint32_t after = published_.sequence.load(std::memory_order_relaxed);
    if ((before & 1u) != 0 || before != after) continue;
    f.order = scalars[0];
    f.pattern = scalars[1];
    f.row = scalars[2];
    f.rows = scalars[3];
    f.tick = scalars[4];
    f.speed = scalars[5];
    f.bpm = scalars[6];
    f.time_ms = scalars[7];
    f.total_ms = scalars[8];
    f.voices = scalars[9];
    return f;
  }
}
