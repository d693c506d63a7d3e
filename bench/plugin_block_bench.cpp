// What one instance of the plugin costs a host that runs it in 64-frame
// blocks at 48000 Hz, playing the wobbling voice: through lilv (LV2) and
// through our CLAP host, beside the renderer for the same voice and notes
// (its path in-process, and the whole ondelith-render process from MIDI file
// to WAV file) and, for scale, mda's JX10 through lilv with one note held.
// Ends with each one's cost per sample against both renderers'.
#include <benchmark/benchmark.h>
#include <lv2/atom/forge.h>
#include <lv2/midi/midi.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/plugin_bench_support.h"
#include "instrument/instrument.h"
#include "plugin/tests/clap_host.h"
#include "plugin/tests/lv2_host.h"
#include "plugin/tests/plugin_test_support.h"

namespace ondelith {
namespace {

using benchsupport::kRate;
constexpr uint32_t kRun = 64;
constexpr uint32_t kRendererBlock = 4096;  // ondelith-render's block
// Every 8 s of sound the note is struck again, so the curves are read on
// every sample (the patch's wobble lasts 10 s).
constexpr uint64_t kAgain = static_cast<uint64_t>(8 * kRate);

void reportSamples(benchmark::State& state, uint64_t samples) {
  state.SetItemsProcessed(static_cast<int64_t>(samples));
  state.counters["ns_per_sample"] =
      benchmark::Counter(static_cast<double>(samples) * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Runs blocks of `block` frames, `strike` playing the note before the first
// and again whenever another 8 s of sound begins within the next block.
template <typename RunBlock, typename Strike>
void playStruck(benchmark::State& state, uint32_t block, RunBlock run, Strike strike) {
  strike();
  uint64_t done = 0;
  for (auto _ : state) {
    run();
    if (done / kAgain != (done + block) / kAgain) strike();
    done += block;
  }
  reportSamples(state, done);
}

lv2test::Host& lv2Host() {
  static lv2test::Host h;
  return h;
}

// The renderer's path: the engine played through the sound model, in the
// renderer's blocks (and, to tell the formats' cost from the engine's, in
// the host's).
void BM_Renderer(benchmark::State& state) {
  const auto block = static_cast<uint32_t>(state.range(0));
  auto engine = std::make_unique<Engine>(*SampleRate::of(kRate));
  Instrument instrument;
  instrument.attach(engine.get());
  instrument.applyPatch(benchsupport::wobblingPatch());
  const auto strike = [&] {
    engine->post(midiEvent(engine->frame(), 0x80u | (69u << 8)));
    engine->post(midiEvent(engine->frame(), 0x90u | (69u << 8) | (100u << 16)));
  };
  std::vector<float> out(block);
  playStruck(
      state, block,
      [&] {
        engine->render(out.data(), block);
        benchmark::DoNotOptimize(out.data());
      },
      strike);
}
BENCHMARK(BM_Renderer)->Arg(kRendererBlock)->Arg(kRun);

double cpuSeconds(const rusage& r) {
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

// The whole renderer as a musician runs it: 300 s of the same voice and
// notes from a MIDI file into a new WAV file, timed by the CPU the process
// used (reading, start-up and writing included).
void BM_RendererProcess(benchmark::State& state) {
  constexpr uint32_t kSeconds = 300, kTicks = 960;  // the file's ticks a second
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> events{{0, {0x90, 69, 100}}};
  for (uint32_t s = 8; s < kSeconds; s += 8) {
    events.push_back({s * kTicks, {0x80, 69, 0}});
    events.push_back({s * kTicks, {0x90, 69, 100}});
  }
  events.push_back({kSeconds * kTicks, {0x80, 69, 0}});
  const test::TempDir dir;
  const std::string midi = dir.file("wobble.mid", plugintest::midiFile(events));
  const std::string patch = dir.file("wobble.vx", formatPatch(benchsupport::wobblingPatch()));
  const std::string out = (dir.path / "out.wav").string();
  const std::vector<std::string> args{"--patch", patch,    "--midi", midi,    "--tail",
                                      "0",       "--rate", "48000",  "--out", out};
  double cpu = 0;
  uint64_t samples = 0;
  for (auto _ : state) {
    std::filesystem::remove(out);
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    if (plugintest::runRenderer(args) != 0) return state.SkipWithError("the renderer failed");
    getrusage(RUSAGE_CHILDREN, &after);
    const double used = cpuSeconds(after) - cpuSeconds(before);
    state.SetIterationTime(used);
    cpu += used;
    samples += uint64_t{kSeconds} * static_cast<uint64_t>(kRate);
  }
  // Rates divide by this thread's CPU, which only waited: the child's is the cost.
  state.counters["ns_per_sample"] = cpu * 1e9 / static_cast<double>(samples);
}
BENCHMARK(BM_RendererProcess)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Lv2(benchmark::State& state) {
  lv2test::Instance plugin(lv2Host(), kRate);
  if (!plugin.ok()) return state.SkipWithError("the bundle is not in the build tree");
  char name[] = "/tmp/ondelith-bench-XXXXXX";
  const int fd = mkstemp(name);
  const std::string text = benchsupport::wobblingPatchText(state.range(0));
  const bool written =
      fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) close(fd);
  if (!written) return state.SkipWithError("no room for the patch file");
  plugin.choosePatchFile(name);
  plugin.runOnly(0);
  plugin.work();
  plugin.deliverAnswers();
  std::remove(name);
  const auto strike = [&] {
    plugin.midi(0, {0x80, 69, 0});
    plugin.midi(0, {0x90, 69, 100});
  };
  playStruck(
      state, kRun, [&] { plugin.runOnly(kRun); }, strike);
}
// The argument: the oversampling factor.
BENCHMARK(BM_Lv2)->Arg(1)->Arg(2)->Arg(4)->Arg(8);

void BM_Clap(benchmark::State& state) {
  static claptest::Module module(ONDELITH_CLAP_PATH);
  claptest::Instance plugin(module, kRate, kRun);
  if (!plugin.ok()) return state.SkipWithError("no plugin in the build tree");
  using namespace std::string_literals;
  const std::string patchState =
      "__dpf_program__\0"s
      "0\0"s
      "__dpf_state_begin__\0"s
      "patch\0"s +
      benchsupport::wobblingPatchText(state.range(0)) + "\0__dpf_state_end__\0\xfe"s;
  if (!plugin.loadState(patchState)) return state.SkipWithError("the state did not load");
  const auto strike = [&] {
    plugin.midi(0, 0x80 | (69 << 8));
    plugin.midi(0, 0x90 | (69 << 8) | (100 << 16));
  };
  playStruck(
      state, kRun, [&] { plugin.processOnly(kRun); }, strike);
}
BENCHMARK(BM_Clap)->Arg(1)->Arg(2)->Arg(4)->Arg(8);

// mda's JX10 with its default program, one note held, through lilv.
void BM_Jx10(benchmark::State& state) {
  lv2test::Host& host = lv2Host();
  LilvNode* uri = lilv_new_uri(host.world, "http://drobilla.net/plugins/mda/JX10");
  const LilvPlugin* jx10 = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(host.world), uri);
  lilv_node_free(uri);
  if (!jx10) return state.SkipWithError("mda-lv2 is not installed");
  const LV2_Feature map{LV2_URID__map, &host.mapFeature};
  const LV2_Feature* features[] = {&map, nullptr};
  LilvInstance* instance = lilv_plugin_instantiate(jx10, kRate, features);
  if (!instance) return state.SkipWithError("JX10 did not instantiate");
  const uint32_t ports = lilv_plugin_get_num_ports(jx10);
  std::vector<float> controls(ports);
  lilv_plugin_get_port_ranges_float(jx10, nullptr, nullptr, controls.data());
  std::array<std::vector<float>, 2> outs{std::vector<float>(kRun), std::vector<float>(kRun)};
  std::vector<uint64_t> events(1024);
  LilvNode* audio = lilv_new_uri(host.world, LV2_CORE__AudioPort);
  LilvNode* atom = lilv_new_uri(host.world, LV2_ATOM__AtomPort);
  size_t nextOut = 0;
  for (uint32_t i = 0; i < ports; ++i) {
    const LilvPort* port = lilv_plugin_get_port_by_index(jx10, i);
    if (lilv_port_is_a(jx10, port, audio) && nextOut < outs.size())
      lilv_instance_connect_port(instance, i, outs[nextOut++].data());
    else if (lilv_port_is_a(jx10, port, atom))
      lilv_instance_connect_port(instance, i, events.data());
    else
      lilv_instance_connect_port(instance, i, &controls[i]);
  }
  lilv_node_free(audio);
  lilv_node_free(atom);
  lilv_instance_activate(instance);
  LV2_Atom_Forge forge;
  lv2_atom_forge_init(&forge, &host.mapFeature);
  const LV2_URID midiEvent = host.map(LV2_MIDI__MidiEvent);
  bool strikeNow = false;
  const auto run = [&] {
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_set_buffer(&forge, reinterpret_cast<uint8_t*>(events.data()),
                              events.size() * sizeof(uint64_t));
    lv2_atom_forge_sequence_head(&forge, &sequence, 0);
    if (strikeNow) {
      for (const std::array<uint8_t, 3> m :
           {std::array<uint8_t, 3>{0x80, 69, 0}, {0x90, 69, 100}}) {
        lv2_atom_forge_frame_time(&forge, 0);
        lv2_atom_forge_atom(&forge, 3, midiEvent);
        lv2_atom_forge_write(&forge, m.data(), 3);
      }
      strikeNow = false;
    }
    lv2_atom_forge_pop(&forge, &sequence);
    lilv_instance_run(instance, kRun);
    benchmark::DoNotOptimize(outs[0].data());
  };
  playStruck(state, kRun, run, [&] { strikeNow = true; });
  lilv_instance_deactivate(instance);
  lilv_instance_free(instance);
  // A note that never reached it would time a silent plugin.
  if (std::all_of(outs[0].begin(), outs[0].end(), [](float v) { return v == 0.0f; }))
    state.SkipWithError("JX10 stayed silent");
}
BENCHMARK(BM_Jx10);

// Keeps each benchmark's cost per sample for the comparison at the end.
class Reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const auto c = r.counters.find("ns_per_sample");
      if (!r.error_occurred && c != r.counters.end()) perSample[r.benchmark_name()] = c->second;
    }
  }
  std::map<std::string, double> perSample;
};

}  // namespace
}  // namespace ondelith

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ondelith::Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto& ns = reporter.perSample;
  const auto engine = ns.find("BM_Renderer/" + std::to_string(ondelith::kRendererBlock));
  const auto process = ns.find("BM_RendererProcess/manual_time");
  if (engine == ns.end() || process == ns.end()) return 0;
  std::printf(
      "\nns a sample against the renderer's for the same voice, in-process (%.2f) and"
      " the whole process (%.2f):\n",
      engine->second, process->second);
  for (const auto& [name, value] : ns)
    if (name != engine->first && name != process->first)
      std::printf("  %-14s %6.2f  %.3f x  %.3f x\n", name.c_str() + 3, value,
                  value / engine->second, value / process->second);
  benchmark::Shutdown();
  return 0;
}
