"""The README's Slurm array job, run for real: a one-node Slurm (Debian's
slurm-wlm, authenticated by munge) started on this machine in a folder of
its own, the script submitted as the README shows it, and its frames
checked against one zoka animate run. The daemons are stopped afterwards,
whatever happens."""

import os
import re
import secrets
import shutil
import socket
import subprocess
import time
from contextlib import closing, contextmanager
from pathlib import Path

import pytest

from conftest import ZOKA, run_zoka, sample_layer, write_png

README = Path(__file__).resolve().parents[2] / "README.md"
PROGRAMS = ("munged", "slurmctld", "slurmd", "sbatch", "sinfo", "scancel")
NODE = "zokanode"
STARTING = 120  # seconds the daemons may take to come up on a loaded machine


def readme_array_job() -> str:
    """The shell block of the README that is a Slurm batch script."""
    blocks = re.findall(r"```sh\n(.*?)```", README.read_text(), re.S)
    scripts = [block for block in blocks if "#SBATCH" in block]
    assert len(scripts) == 1, "the README has one Slurm batch script"
    return scripts[0]


def free_port() -> int:
    with closing(socket.socket()) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def configuration(folder: Path, munge_socket: Path) -> str:
    host = socket.gethostname().split(".")[0]
    return "\n".join([
        "ClusterName=zokatest",
        f"SlurmctldHost={host}(127.0.0.1)",
        f"SlurmctldPort={free_port()}",
        f"SlurmdPort={free_port()}",
        "SlurmUser=root",
        "SlurmdUser=root",
        "AuthType=auth/munge",
        "CredType=cred/munge",
        f"AuthInfo=socket={munge_socket}",
        f"StateSaveLocation={folder}/state",
        f"SlurmdSpoolDir={folder}/spool",
        f"SlurmctldPidFile={folder}/slurmctld.pid",
        f"SlurmdPidFile={folder}/slurmd.pid",
        f"SlurmctldLogFile={folder}/slurmctld.log",
        f"SlurmdLogFile={folder}/slurmd.log",
        # No cgroups: the jobs run as plain processes of the node daemon.
        "ProctrackType=proctrack/linuxproc",
        "TaskPlugin=task/none",
        "JobAcctGatherType=jobacct_gather/none",
        "AccountingStorageType=accounting_storage/none",
        "SelectType=select/cons_tres",
        "SelectTypeParameters=CR_CPU",
        "MpiDefault=none",
        "ReturnToService=2",
        "SlurmdParameters=config_overrides",
        f"NodeName={NODE} NodeAddr=127.0.0.1 CPUs={os.cpu_count()} State=UNKNOWN",
        "PartitionName=zoka Nodes=ALL Default=YES MaxTime=INFINITE State=UP",
        "",
    ])


def stop(process: subprocess.Popen) -> None:
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def log_tail(folder: Path) -> str:
    return " | ".join(f"{log.name}: {log.read_text(errors='replace').strip().splitlines()[-1:]}"
                      for log in sorted(folder.glob("*.log")) if log.stat().st_size)


@contextmanager
def one_node_slurm(folder: Path):
    """munged, slurmctld and slurmd of this folder, up and idle; the
    environment that reaches them (SLURM_CONF) is yielded."""
    missing = [program for program in PROGRAMS if shutil.which(program) is None
               and not Path("/usr/sbin", program).exists()]
    if missing:
        pytest.skip(f"Slurm is not installed here (no {', '.join(missing)}; scripts/setup installs "
                    "slurm-wlm and munge)")
    if os.geteuid() != 0:
        pytest.skip("the node daemon starts jobs as their user, which takes root")
    for part in ("state", "spool", "munge"):
        (folder / part).mkdir(parents=True)
    munge = folder / "munge"
    (munge / "munge.key").write_bytes(secrets.token_bytes(1024))
    (munge / "munge.key").chmod(0o400)
    munge_socket = munge / "socket"
    (folder / "slurm.conf").write_text(configuration(folder, munge_socket))
    environment = dict(os.environ, SLURM_CONF=str(folder / "slurm.conf"))
    sbin = lambda name: shutil.which(name) or f"/usr/sbin/{name}"  # noqa: E731
    daemons = []
    try:
        daemons.append(subprocess.Popen(
            [sbin("munged"), "--foreground", "--force", f"--socket={munge_socket}",
             f"--key-file={munge}/munge.key", f"--pid-file={munge}/munged.pid",
             f"--log-file={folder}/munged.log", f"--seed-file={munge}/seed"],
            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT))
        deadline = time.monotonic() + STARTING
        while not munge_socket.exists() and time.monotonic() < deadline and daemons[0].poll() is None:
            time.sleep(0.1)
        for command in ([sbin("slurmctld"), "-D", "-f", environment["SLURM_CONF"]],
                        [sbin("slurmd"), "-D", "-N", NODE, "-f", environment["SLURM_CONF"]]):
            daemons.append(subprocess.Popen(command, env=environment, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.STDOUT))
        while time.monotonic() < deadline and all(d.poll() is None for d in daemons):
            state = subprocess.run(["sinfo", "-h", "-n", NODE, "-o", "%T"], env=environment,
                                   capture_output=True, text=True).stdout.strip()
            if state == "idle":
                break
            time.sleep(0.5)
        else:
            pytest.skip(f"this machine could not start a one-node Slurm: {log_tail(folder)}")
        yield environment
    finally:
        if len(daemons) == 3 and daemons[1].poll() is None:
            subprocess.run(["scancel", "--full", "--partition", "zoka"], env=environment, capture_output=True)
        for daemon in reversed(daemons):
            stop(daemon)


def test_the_readme_array_job_renders_the_frames_of_one_run(tmp_path):
    script = readme_array_job()
    jobs = tmp_path / "job"
    jobs.mkdir()
    write_png(jobs / "in.png", sample_layer())
    (jobs / "glow.sh").write_text(script)
    reference = tmp_path / "reference"
    reference.mkdir()
    frames = re.search(r"--frames (\S+)", script).group(1)
    settings = re.findall(r'--set "([^"]+)"', script)
    done = run_zoka("animate", "Glow", jobs / "in.png", reference / "out_%04d.png", "--frames", frames,
                    *[word for s in settings for word in ("--set", s)])
    assert done.status == 0, done.err
    with one_node_slurm(tmp_path / "slurm") as environment:
        environment["PATH"] = f"{Path(ZOKA).parent}{os.pathsep}{environment['PATH']}"
        submitted = subprocess.run(["sbatch", "--wait", "glow.sh"], cwd=jobs, env=environment,
                                   capture_output=True, text=True, timeout=1800)
        logs = "".join(log.read_text() for log in sorted(jobs.glob("slurm-*.out")))
        assert submitted.returncode == 0, submitted.stderr + logs
    written = sorted(path.name for path in jobs.glob("out_*.png"))
    expected = sorted(path.name for path in reference.glob("out_*.png"))
    assert written == expected and len(written) == 1000
    for name in written:
        assert (jobs / name).read_bytes() == (reference / name).read_bytes(), name
