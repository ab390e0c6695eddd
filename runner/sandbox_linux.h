#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include <sys/types.h>

// A contestant's program (and the compiler that builds it) sees a root of its
// own: the system's programs and libraries read-only, a few devices, a private
// /tmp and /dev/shm, and its work folder at /box, read-write. Nothing of the
// contest, of other players or of the judge's home is there. The program also
// gets a user no other process has, a process tree of its own (so kill(-1)
// reaches only its own processes, and all of them die with the run), no
// network and no System V IPC shared with anyone.
namespace sandbox {

// Why namespaces cannot be used on this machine, or empty when they can.
// Tried once per process, on first use.
QString unavailableReason();
inline bool available() { return unavailableReason().isEmpty(); }

// Everything the first process of a run needs to build the root, prepared
// before it is started: from then on it makes raw system calls only.
struct RootPlan
{
    QByteArray workDir;      // bound at /box
    bool wholeEtc = false;   // compilers read their configuration from /etc
    bool mountProc = true;   // a /proc of the run's own processes
    unsigned long long scratchBytes = 64ULL << 20;  // each of /tmp and /dev/shm
    bool mapOwnUser = false;  // an unprivileged judge: map its user in the new namespace
    QByteArray uidMap;        // "<uid> <uid> 1"
    QByteArray gidMap;
    QByteArray tmpfsOptions;  // "size=...,nr_inodes=...,mode=1777"
    int network = -1;         // a network namespace to join instead of a new one
    // A mount namespace whose root is already built for this work folder;
    // the run then only adds its own /proc, /tmp and /dev/shm to a copy.
    int prebuiltRoot = -1;
    bool scratchMounts = true;  // false while a prebuilt root is made
    // An unprivileged judge's own user namespace (judgeUserNamespace), in
    // which network and prebuiltRoot were made. The run's first process
    // joins the three and starts the init in a user namespace of the run's
    // own below them, with a copy of the prebuilt root.
    int judgeUsers = -1;
    // A prebuilt root made in judgeUsers holds a /proc of no process under
    // the run's own: a user namespace may mount a /proc only where one is
    // already in full view.
    bool coveredProc = false;
    // The judge's /proc, through which such an init without a /proc of its
    // own (mountProc false) maps its user.
    int hostProc = -1;
    // A program's work folder is a file system of its own, bounded in bytes
    // and files, so that whatever it writes there can fill only its own
    // space: the files of the judge's work folder are bound in read-only
    // before it starts, and its results copied back once all of its
    // processes are gone. 0: the work folder itself is /box (compilers).
    unsigned long long boxBytes = 0;
    QByteArray boxOptions;   // "size=...,nr_inodes=...,mode=0755,uid=...,gid=..."
    QByteArray streamName;   // the file of the work folder standard output goes to: left out
    bool allResults = true;  // every regular file it made or changed comes back
    std::vector<QByteArray> results;  // otherwise only these
};

// The environment of every program and compiler: what they need to find
// the system's tools and to read and write UTF-8, and nothing of the judge's.
inline constexpr char programPath[] = "PATH=/usr/local/bin:/usr/bin:/bin";
inline constexpr char programLanguage[] = "LANG=C.UTF-8";

RootPlan makeRootPlan(const QString &workDir, bool forCompiler, double scratchMegabytes);

// The namespaces a run is started in; CLONE_NEWPID only for a program run,
// CLONE_NEWNET only where no network namespace is at hand to join.
int namespaceFlags(bool withProcessTree, bool newNetwork = true);

// Bounds the program's work folder: outputBytes (and a little) for what it
// writes, 1024 files more than the judge put there. owner: the program's user.
void planBox(RootPlan &plan, unsigned long long outputBytes, uid_t owner, gid_t group);

// Covers /box, the judge's work folder, with the program's own bounded one,
// in which the judge's files are bound (nothing when the plan has no bound).
// *workFolder, when given, keeps the judge's folder open. Raw system calls
// only; returns 0 or an errno.
int mountBox(const RootPlan &plan, int *workFolder) noexcept;

// Joins plan.judgeUsers and the network namespace and prebuilt root made in
// it, in the process that then starts the run's init. Raw system calls only;
// returns 0 or an errno.
int joinJudgeNamespaces(const RootPlan &plan) noexcept;

// Maps the judge's user and group (plan.uidMap, plan.gidMap) in a user
// namespace just made, through procDir (the judge's /proc), or through /proc
// where it is -1. Raw system calls only; returns 0 or an errno.
int mapJudgeUser(const RootPlan &plan, long procDir = -1) noexcept;

// Builds and enters the root, in a process that has just been given new user
// (unless root), mount, IPC and network namespaces. The current directory is
// /box afterwards. With a bounded work folder, *workFolder is then the
// judge's work folder, open for returnResults. Raw system calls only;
// returns 0 or an errno.
int enterRoot(const RootPlan &plan, int *workFolder = nullptr) noexcept;

// Once every process of the program has ended: copies its results from /box
// (the current directory's file system) to the judge's work folder. Only
// regular files come back, never through a link; a result the program
// removed is removed there too. Raw system calls only.
void returnResults(const RootPlan &plan, int workFolder) noexcept;

// For a judge that does not run as root: a user namespace of its own, made
// once, with its user and group mapped to themselves, in which the
// namespaces every run would otherwise make anew are made once and kept.
// Held by a descriptor alone: no process of it outlives the judge. -1 where
// it cannot be made.
int judgeUserNamespace();
// A run started through judgeUserNamespace was refused: runs are started
// without it from now on.
void refuseJudgeUserNamespace();

// A user id for one run at a time, no other process on the machine has: taken
// from a reserved range, one per concurrent run in this process, guarded
// against other judges by an abstract socket name. Only for a judge that runs
// as root; invalid otherwise or when the range is used up. A judge that does
// not run as root gets the network namespace and prebuilt roots alone, made
// in judgeUserNamespace (inJudgeUsers() tells whether they could be).
class Identity
{
public:
    Identity();
    ~Identity();
    Identity(const Identity &) = delete;
    Identity &operator=(const Identity &) = delete;

    bool valid() const { return id != 0; }
    // Without root: a network namespace and prebuilt roots made in
    // judgeUserNamespace.
    bool inJudgeUsers() const { return id == 0 && net >= 0; }
    uid_t uid() const { return id; }
    gid_t gid() const { return id; }
    // An empty network namespace (not even loopback up) of this identity's
    // runs, made once: new ones cost more than the rest of a sandbox.
    // Runs of one identity never overlap, so nothing passes between runs
    // that are judged side by side. -1 when it cannot be made.
    int network() const { return net; }
    // A mount namespace with the root of a program run in workDir built,
    // kept while the folder stays the same (made again when it is replaced);
    // -1 when it cannot be made.
    int prebuiltRoot(const RootPlan &plan);

private:
    uid_t id = 0;
    int net = -1;
    int root = -1;
    int rootFolder = -1;  // the work folder bound in it: a new folder may get the number of a removed one
};

// A prebuilt root (as Identity::prebuiltRoot) for organisers' programs,
// which several slots start again and again, each in folders of its own:
// kept per folder (made in judgeUserNamespace for a judge that does not run
// as root). The descriptor returned is the caller's to close; -1 when there
// is none.
int sharedPrebuiltRoot(const RootPlan &plan);

// The one user of every compiler and organiser's program run in the
// compilers' sandbox, apart from every program's.
const Identity &compilerIdentity();
// Whether compilers and organisers' programs are sandboxed at all (tests
// with stand-in compilers turn it off).
bool compilerSandboxEnabled();

// Gives the work folder and what lies in it (not below) to owner.
void handOver(const QByteArray &workDir, uid_t owner, gid_t group);

} // namespace sandbox
