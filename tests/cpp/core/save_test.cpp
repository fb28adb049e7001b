#include "core/store.hpp"

#include "core/builder.hpp"
#include "core/error.hpp"
#include "core/file_descriptor.hpp"
#include "core/graph_files.hpp"
#include "core/interrupt.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <grp.h>
#include <iterator>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <memory>
#include <optional>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kuv::core {
namespace {

using namespace test;
namespace fs = std::filesystem;

TEST(GraphFileSave, TemporaryPathReplacesTheExtension) {
    const std::pair<std::string, std::string> cases[] = {
        {"out/graph.bin", "out/graph.bin.tmp"}, {"out/g.dat", "out/g.bin.tmp"}, {"out/a.b.c", "out/a.b.bin.tmp"},
        {"out/.hidden", "out/.hidden.bin.tmp"}, {"g.dat", "g.bin.tmp"}, {"out.d/g", "out.d/g.bin.tmp"}, {"/g", "/g.bin.tmp"},
        {"out/g.", "out/g.bin.tmp"}, {"out/g.dat/", "out/g.bin.tmp"}, {"out/g.dat/.", "out/g.bin.tmp"}, {"out/..", "out/.."}, {"", ""},
    };
    for (const auto& [path, temp] : cases) EXPECT_EQ(temp_path_for(path), temp) << path;
}

TEST(GraphFileSave, WritesOpensAndReSavesByteForByte) {
    const TempDir dir;
    const Graph graph = sample_graph();
    const mode_t old_mask = umask(027);
    const auto written = save(graph, dir / "g.dat");
    umask(old_mask);
    const std::string bytes = read_file(dir / "g.dat");
    EXPECT_EQ(bytes, serialize(graph));
    EXPECT_EQ(written, bytes.size());
    EXPECT_FALSE(fs::exists(dir / "g.bin.tmp"));
    EXPECT_EQ(fs::status(dir / "g.dat").permissions(), fs::perms(0640));

    LoadedGraph loaded = LoadedGraph::open(dir / "g.dat");
    const LoadedGraph moved = std::move(loaded);  // views stay on the same mapping
    EXPECT_EQ(moved.to_graph(), graph);
    EXPECT_EQ(save(load_owned(dir / "g.dat"), dir / "g.dat"), written);  // over the file it came from
    EXPECT_EQ(read_file(dir / "g.dat"), bytes);
    EXPECT_EQ(moved.bytes_of(moved.name(0)), "Phone");  // the replaced file stays mapped
}

TEST(GraphFileSave, FailuresAndStopRequestsLeaveTheOutputUntouched) {
    const TempDir dir;
    struct StopAlways : InterruptProbe {
        bool stop_requested() override { return true; }
    } probe;
    const auto save_to = [](const std::string& path) { return error_of([&] { save(sample_graph(), path); }); };
    write_file(dir / "kept.bin", "previous content");
    fs::create_directory(dir / "kept.bin.tmp");  // the temporary path cannot be written
    EXPECT_EQ(save_to(dir / "kept.bin"), "write tmp graph.bin");
    EXPECT_EQ(read_file(dir / "kept.bin"), "previous content");
    fs::create_directory(dir / "taken");
    EXPECT_EQ(save_to(dir / "taken"), "atomic rename graph.bin");
    EXPECT_TRUE(fs::is_directory(dir / "taken"));
    EXPECT_EQ(read_file(dir / "taken.bin.tmp"), serialize(sample_graph()));  // left behind, complete
    EXPECT_EQ(save_to(dir / std::string("g\0x.bin", 7)), "write tmp graph.bin");  // a NUL fails, never truncates
    EXPECT_FALSE(fs::exists(dir / "g"));
    EXPECT_EQ(save_to(dir / std::string("h.b\0n", 5)), "atomic rename graph.bin");  // written, not renamed
    EXPECT_TRUE(fs::exists(dir / "h.bin.tmp"));
    EXPECT_FALSE(fs::exists(dir / "h.b"));
    write_file(dir / "stopped.bin", "previous content");
    const InterruptScope scope(probe);
    EXPECT_THROW(save(sample_graph(), dir / "stopped.bin"), Interrupted);
    EXPECT_EQ(read_file(dir / "stopped.bin"), "previous content");
    EXPECT_FALSE(fs::exists(dir / "stopped.bin.tmp"));
}

TEST(GraphFileSave, WhateverIsAtTheTemporaryPathIsReplacedNeverFollowedOrOpened) {
    const TempDir dir;
    const std::pair<std::string, std::function<void()>> cases[] = {
        {"leftover file", [&] { write_file(dir / "g.bin.tmp", "half a graph"); }},
        {"leftover longer than the graph", [&] { write_file(dir / "g.bin.tmp", std::string(105000, 'x')); }},
        {"link to a file", [&] { fs::create_symlink(dir / "victim", dir / "g.bin.tmp"); }},
        {"link to nothing", [&] { fs::create_symlink(dir / "nowhere", dir / "g.bin.tmp"); }},
        {"second name of a file", [&] { fs::create_hard_link(dir / "victim", dir / "g.bin.tmp"); }},
        {"named pipe", [&] { ASSERT_EQ(mkfifo((dir / "g.bin.tmp").c_str(), 0600), 0); }},
    };
    for (const auto& [planted, plant] : cases) {
        write_file(dir / "victim", "not yours");
        plant();
        EXPECT_EQ(save(sample_graph(), dir / "g.bin"), serialize(sample_graph()).size()) << planted;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "g.bin"))) << planted;
        EXPECT_EQ(read_file(dir / "g.bin"), serialize(sample_graph())) << planted;
        EXPECT_EQ(read_file(dir / "victim"), "not yours") << planted;
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "g.bin.tmp"))) << planted;
        EXPECT_FALSE(fs::exists(dir / "nowhere")) << planted;
    }
}

// About a megabyte of nodes, so that saves of it overlap when run side by side.
Graph numbered_graph(std::size_t count, const std::string& tag) {
    GraphBuilder builder;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string id = tag + std::to_string(i);
        builder.upsert_node(NodeKind::Product, id, id, R"({"url":"https://shop.example/)" + id + R"("})");
    }
    return std::move(builder).build();
}

// Runs `work` (returning whether it went well) on a thread or in a forked process; join() tells
// whether it went well.
class Runner {
public:
    Runner(bool in_process, std::function<bool()> work) {
        if (!in_process) {
            thread_ = std::thread([this, work] { ok_ = work(); });
            return;
        }
        pid_ = fork();
        if (pid_ == 0) _exit(work() ? 0 : 1);
    }
    bool join() {
        if (thread_.joinable()) thread_.join();
        int status = 0;
        return pid_ > 0 ? waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status) && WEXITSTATUS(status) == 0 : ok_;
    }

private:
    std::thread thread_;
    pid_t pid_ = -1;
    bool ok_ = false;
};

// Output paths that share a temporary path, or one path three times, saved from three threads or
// three processes at once: every save returns normally and leaves its own graph under its path
// (with one path, one of the graphs), and a reader polling the path never fails to open it. With
// three savers, one is often waiting for a file that another renames away meanwhile.
TEST(GraphFileSave, OverlappingSavesTakeTurnsOnTheTemporaryFile) {
    constexpr int kSavers = 3;
    const Graph graphs[kSavers] = {numbered_graph(20000, "a"), numbered_graph(5000, "b"), numbered_graph(10000, "c")};
    const std::string images[kSavers] = {serialize(graphs[0]), serialize(graphs[1]), serialize(graphs[2])};
    const struct {
        std::string name;
        bool processes;
        std::string outputs[kSavers];
    } cases[] = {
        {"threads, shared temporary path", false, {"g.bin", "g.dat", "g"}},
        {"threads, one path", false, {"g.bin", "g.bin", "g.bin"}},
        {"processes, shared temporary path", true, {"g.bin", "g", "g.dat"}},
        {"processes, one path", true, {"g.bin", "g.bin", "g.bin"}},
    };
    for (const auto& c : cases) {
        const TempDir dir;
        const bool one_path = c.outputs[0] == c.outputs[1];
        const auto saves = [&](int which) {
            return [&, which] {
                bool ok = true;
                for (int round = 0; round < 30; ++round) {
                    ok &= error_of([&] { save(graphs[which], dir / c.outputs[which]); }) == "no error";
                    const std::string now = read_file(dir / c.outputs[which]);
                    ok &= now == images[which] || (one_path && std::find(std::begin(images), std::end(images), now) != std::end(images));
                }
                return ok;
            };
        };
        save(numbered_graph(1, "x"), dir / c.outputs[0]);
        std::vector<std::unique_ptr<Runner>> savers;
        for (int which = 0; which < kSavers; ++which) savers.push_back(std::make_unique<Runner>(c.processes, saves(which)));
        std::atomic<bool> done = false;
        std::size_t opens = 0;
        std::size_t failed_opens = 0;
        std::thread reader([&] {
            for (; !done; ++opens) failed_opens += error_of([&] { LoadedGraph::open(dir / c.outputs[0]); }) != "no error";
        });
        for (int which = 0; which < kSavers; ++which) EXPECT_TRUE(savers[which]->join()) << c.name << ", saver " << which;
        done = true;
        reader.join();
        EXPECT_EQ(failed_opens, 0u) << c.name << " of " << opens;
        EXPECT_FALSE(fs::exists(dir / "g.bin.tmp")) << c.name;
    }
}

// A save waits while another open file holds the temporary file's lock, neither emptying nor
// renaming it meanwhile, and a stop request ends the wait with nothing touched.
TEST(GraphFileSave, ASaveWaitsForItsTurnAndStopsWhileWaitingWhenAsked) {
    const TempDir dir;
    write_file(dir / "g.bin.tmp", "another save's graph");
    FileDescriptor other_save(open((dir / "g.bin.tmp").c_str(), O_WRONLY));
    ASSERT_EQ(flock(other_save.get(), LOCK_EX), 0);
    struct StopWhenTold : InterruptProbe {
        std::atomic<bool> told = false;
        bool stop_requested() override { return told; }
    } probe;
    std::atomic<bool> stopped = false;
    std::thread stopping([&] {
        const InterruptScope scope(probe);
        try {
            save(sample_graph(), dir / "g.bin");
        } catch (const Interrupted&) {
            stopped = true;
        }
    });
    std::thread waiting([&] { save(sample_graph(), dir / "g.bin"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    probe.told = true;
    stopping.join();
    EXPECT_TRUE(stopped);
    EXPECT_FALSE(fs::exists(dir / "g.bin"));
    EXPECT_EQ(read_file(dir / "g.bin.tmp"), "another save's graph");
    other_save.close();
    waiting.join();
    EXPECT_EQ(read_file(dir / "g.bin"), serialize(sample_graph()));
    EXPECT_FALSE(fs::exists(dir / "g.bin.tmp"));
}

// A save whose file is taken from the temporary path while it writes (removed, or replaced by
// another file) writes again: it returns normally with its own graph, and renames no file but
// its own.
TEST(GraphFileSave, ASaveWhoseFileIsTakenAwayWhileItWritesWritesAgain) {
    // Asked between the pieces a save writes: takes the file away once it is there.
    struct TakeAwayOnce : InterruptProbe {
        TakeAwayOnce(std::string temp, bool replace) : temp(std::move(temp)), replace(replace) {}
        bool stop_requested() override {
            if (taken) return false;
            if (!fs::exists(fs::symlink_status(temp))) {
                std::this_thread::sleep_for(kInterruptPollInterval);  // so that the next poll asks again
                return false;
            }
            taken = unlink(temp.c_str()) == 0;
            if (replace) write_file(temp, "another file");
            return false;
        }
        std::string temp;
        bool replace;
        bool taken = false;
    };
    for (const bool replace : {false, true}) {
        const TempDir dir;
        TakeAwayOnce probe(dir / "g.bin.tmp", replace);
        {
            const InterruptScope scope(probe);
            EXPECT_EQ(error_of([&] { save(numbered_graph(2000, "a"), dir / "g.bin"); }), "no error") << replace;
        }
        EXPECT_TRUE(probe.taken) << replace;
        EXPECT_TRUE(read_file(dir / "g.bin") == serialize(numbered_graph(2000, "a"))) << replace;
        EXPECT_FALSE(fs::exists(dir / "g.bin.tmp")) << replace;
    }
}

constexpr uid_t kOtherUser = 4242;  // only the id matters: no account is needed

// Drops this process's user and group ids to kOtherUser, keeping root as the saved user id, so
// that root's work can still be done between the other user's.
bool become_other_user() {
    return setgroups(0, nullptr) == 0 && setresgid(kOtherUser, kOtherUser, 0) == 0 &&
           setresuid(kOtherUser, kOtherUser, 0) == 0;
}

// Saves `graph` to `out`, then checks that `out` holds exactly its image.
bool saves_whole(const Graph& graph, const std::string& image, const std::string& out) {
    return error_of([&] { save(graph, out); }) == "no error" && fs::is_regular_file(fs::symlink_status(out)) &&
           read_file(out) == image;
}

// A leftover no saver may write, root's in a directory everybody may write, met by a burst of
// six saves of another user that start together: every save returns normally with its own graph.
TEST(GraphFileSave, AnUnwritableLeftoverMetByABurstOfSavesLeavesEachSaveItsOwnGraph) {
    if (geteuid() != 0) GTEST_SKIP() << "changes user ids: runs as root";
    constexpr int kSavers = 6;
    const TempDir dir;
    ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
    std::vector<Graph> graphs;
    std::vector<std::string> images;
    for (int i = 0; i < kSavers; ++i) {
        graphs.push_back(numbered_graph(200 + 50 * i, "s" + std::to_string(i)));
        images.push_back(serialize(graphs.back()));
    }
    Runner other_user(true, [&] {
        if (!become_other_user()) return false;
        bool ok = true;
        for (int round = 0; round < 200 && ok; ++round) {
            if (seteuid(0) != 0) return false;
            write_file(dir / "g.bin.tmp", "root's leftover");
            ok &= chmod((dir / "g.bin.tmp").c_str(), 0644) == 0;
            if (seteuid(kOtherUser) != 0) return false;
            std::atomic<int> ready = 0;
            std::atomic<int> failed = 0;
            std::vector<std::thread> burst;
            for (int i = 0; i < kSavers; ++i) {
                burst.emplace_back([&, i] {
                    for (++ready; ready < kSavers;) std::this_thread::yield();
                    failed += !saves_whole(graphs[i], images[i], dir / ("g.s" + std::to_string(i)));
                });
            }
            for (std::thread& saver : burst) saver.join();
            ok &= failed == 0;
        }
        return ok;
    });
    EXPECT_TRUE(other_user.join());
}

// A save into a directory it may write but not read, so that it cannot lock it, goes on without
// the directory's lock.
TEST(GraphFileSave, WhereTheDirectoryCannotBeReadSavesGoOnWithoutItsLock) {
    if (geteuid() != 0) GTEST_SKIP() << "changes user ids: runs as root";
    const TempDir dir;
    ASSERT_EQ(chmod(dir.path.c_str(), 0333), 0);
    write_file(dir / "g.bin.tmp", std::string(5000, 'x'));
    ASSERT_EQ(chown((dir / "g.bin.tmp").c_str(), kOtherUser, kOtherUser), 0);  // the other user's leftover
    Runner other_user(true, [&] {
        return become_other_user() && open(dir.path.c_str(), O_RDONLY | O_DIRECTORY) < 0 &&
               saves_whole(sample_graph(), serialize(sample_graph()), dir / "g.bin");
    });
    EXPECT_TRUE(other_user.join());
    EXPECT_FALSE(fs::exists(dir / "g.bin.tmp"));
}

// Named pipes with a reader, or links to a missing file, put at the temporary path from outside
// wherever it is free, while four saves run there over and over: every save returns normally with
// its own graph, no link is followed and nothing is written to a pipe.
TEST(GraphFileSave, WhatTurnsUpAtTheTemporaryPathIsNeverFollowedOrWrittenTo) {
    constexpr int kSavers = 4;
    std::vector<Graph> graphs;
    std::vector<std::string> images;
    for (int i = 0; i < kSavers; ++i) {
        graphs.push_back(numbered_graph(4000 + 1000 * i, "s" + std::to_string(i)));
        images.push_back(serialize(graphs.back()));
    }
    const std::string outputs[kSavers] = {"g.bin", "g.dat", "g", "g.x"};
    for (const bool pipes : {true, false}) {
        const TempDir dir;
        const std::string temp = dir / "g.bin.tmp";
        std::atomic<bool> done = false;
        std::size_t planted = 0;
        std::size_t bytes_through_pipes = 0;
        std::thread planter([&] {
            std::optional<FileDescriptor> reader;
            const auto drain = [&] {
                char buffer[4096];
                for (ssize_t n; reader && (n = read(reader->get(), buffer, sizeof buffer)) > 0;) bytes_through_pipes += n;
            };
            for (; !done; std::this_thread::sleep_for(std::chrono::microseconds(20))) {
                if (!pipes) {
                    planted += symlink((dir / "missing").c_str(), temp.c_str()) == 0;
                    continue;
                }
                if (mkfifo(temp.c_str(), 0600) != 0) continue;
                ++planted;
                drain();
                reader.emplace(open(temp.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW));
                struct stat status {};
                if (fstat(reader->get(), &status) != 0 || !S_ISFIFO(status.st_mode)) reader.reset();  // gone meanwhile
            }
            drain();
        });
        std::atomic<int> failed = 0;
        std::vector<std::thread> savers;
        for (int i = 0; i < kSavers; ++i) {
            savers.emplace_back([&, i] {
                for (int round = 0; round < 100; ++round) failed += !saves_whole(graphs[i], images[i], dir / outputs[i]);
            });
        }
        for (std::thread& saver : savers) saver.join();
        done = true;
        planter.join();
        const char* what = pipes ? "pipes" : "links";
        EXPECT_EQ(failed, 0) << what;
        EXPECT_GT(planted, 0u) << what;
        EXPECT_EQ(bytes_through_pipes, 0u) << what;
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "missing"))) << what;
    }
}

// Makes every flock of this process fail with `error`, as on a file system without locks.
bool refuse_locks(int error) {
#if defined(__x86_64__)
    constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#endif
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_flock, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (std::uint32_t(error) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Where the file system refuses locks, a save goes on without taking turns, over a leftover too.
TEST(GraphFileSave, WhereLocksAreRefusedSavesGoOnWithoutTakingTurns) {
    for (const int error : {ENOLCK, EOPNOTSUPP, EINVAL}) {
        for (const bool leftover : {false, true}) {
            const TempDir dir;
            if (leftover) write_file(dir / "g.bin.tmp", std::string(5000, 'x'));
            Runner refused(true, [&] {
                return refuse_locks(error) && saves_whole(sample_graph(), serialize(sample_graph()), dir / "g.bin");
            });
            EXPECT_TRUE(refused.join()) << strerrorname_np(error) << (leftover ? " over a leftover" : "");
            EXPECT_FALSE(fs::exists(dir / "g.bin.tmp"));
        }
    }
}

}  // namespace
}  // namespace kuv::core
