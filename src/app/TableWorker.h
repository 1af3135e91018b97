// The standalone's table builder: the one thread that builds wavetables and
// changes the sample rate once the audio is running, so that generation
// never runs on the audio thread nor on two threads at once. Requests are
// coalesced: however many arrive while it works, it builds once more from
// the parameters as they are then.
//
// It builds a table when a harmonic or the bandwidth differs from what the
// current table was built from, when "Update" is pressed, and when the
// sample rate changes.
//
// Threads: the requests come from any non-real-time thread (the editor, the
// JACK notification thread); they take a lock, so never the audio thread.
#pragma once

#include <array>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/SynthEngine.h"

namespace veltrosa {

class TableWorker {
public:
    // The engine's current table counts as built from its current parameters.
    explicit TableWorker(SynthEngine& engine);
    ~TableWorker();
    TableWorker(const TableWorker&) = delete;
    TableWorker& operator=(const TableWorker&) = delete;

    // False when no thread could be started (the engine then keeps its table).
    bool start();
    void stop();

    // A harmonic, the bandwidth or "Update" may have changed.
    void parametersChanged();
    void sampleRateChanged(double rate);

private:
    using Spectrum = std::array<float, kParamBandwidth + 1>;
    Spectrum spectrum() const;
    void run();

    SynthEngine& engine_;
    Spectrum builtFrom_{};  // worker thread only, once started
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;
    bool quit_ = false;
    double rate_ = 0.0;  // a sample rate to take, 0 for none
    std::thread thread_;
};

}  // namespace veltrosa
