#include "e2e_run.hpp"

namespace testsupport {

E2eRun::E2eRun(const std::string& kind)
    : folder_(kind), unit_(folder_.path()), receiver_(folder_.path()) {}

std::string E2eRun::start_receiver(const std::vector<std::string>& options) {
    receiver_started_ = true;
    return receiver_.start(options);
}

std::string E2eRun::open_laser_port() {
    laser_port_ = std::make_unique<test_support::Pty>();
    if (!laser_port_->ok()) {
        return "laser control port: " + laser_port_->error();
    }
    laser_mapping_ = std::make_unique<TargetPort>(kLaserCom, laser_port_->slave_path());
    return laser_mapping_->error();
}

std::string E2eRun::launch(const std::vector<std::string>& args,
                           const std::vector<std::string>& env, const std::string& program) {
    if (!folder_.ok()) {
        return "mkdtemp failed";
    }
    const bool started =
        program_.launch(program.empty() ? e2e_target().exe : program, args, env, dir().string());
    return started ? std::string() : program_.error();
}

std::vector<std::string> E2eRun::arguments(const std::vector<std::string>& options,
                                           const std::string& laser_file) const {
    std::vector<std::string> args{laser_file,
                                  "gyro.txt",
                                  "gps.txt",
                                  "-C",
                                  unit_.port(),
                                  "-S",
                                  receiver_started_ ? receiver_.port() : kNoGpsPort};
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

bool E2eRun::wait_gyro_records(size_t n) const {
    return wait_until([&] { return count_of(gyro_file(), "\n") >= n; }, kHangBound,
                      milliseconds(20));
}

bool E2eRun::wait_sentences(size_t n) const {
    return wait_until([&] { return valid_sentences(gps_lines()).size() >= n; }, kHangBound,
                      milliseconds(50));
}

std::string E2eRun::err() const {
    std::string text = program_.console_err();
    if (const size_t at = text.find(kNoGpsLine); at != std::string::npos) {
        text.erase(at, std::char_traits<char>::length(kNoGpsLine));
    }
    return text;
}

std::string E2eRun::transcript() const {
    std::string text = "\n--- stdout ---\n" + out() + "\n--- stderr ---\n" + err() +
                       "\n--- simulated unit ---\n" + unit_.status() + "\n--- unit log ---\n" +
                       unit_.log().substr(0, 4000);
    if (receiver_started_) {
        text += "\n--- receiver ---\n" + receiver_.status() + "\n--- gps.txt ---\n" +
                gps_bytes().substr(0, 4000);
    }
    if (const std::vector<HsifCall> calls = trace(); !calls.empty()) {
        text += "\n--- trace ---\n" + describe(calls);
    }
    return text;
}

void E2eTest::SetUp() {
    if (!e2e_target().skip_reason.empty()) {
        GTEST_SKIP() << e2e_target().skip_reason;
    }
    ASSERT_FALSE(dir().empty()) << "the test's folder could not be made";
}

}  // namespace testsupport
