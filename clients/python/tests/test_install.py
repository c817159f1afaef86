"""The package installs with pip into a scratch virtual environment without network: Debian's
setuptools builds it (--no-build-isolation) and nothing is fetched (--no-index)."""

import pathlib
import subprocess
import sys

SOURCE = pathlib.Path(__file__).resolve().parent.parent


def test_pip_installs_the_package_offline(tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True)
    python = venv / "bin" / "python"
    # The source folder is copied by pip's build; point it at a copy so no build files are
    # left in the source tree.
    copy = tmp_path / "src"
    subprocess.run(["cp", "-r", str(SOURCE), str(copy)], check=True)
    install = subprocess.run(
        [str(python), "-m", "pip", "install", "--no-build-isolation", "--no-index",
         "--no-cache-dir", "--disable-pip-version-check", str(copy)],
        capture_output=True, text=True, env={"PATH": "/usr/bin:/bin", "HOME": str(tmp_path)})
    assert install.returncode == 0, install.stdout + install.stderr
    probe = subprocess.run(
        [str(python), "-c", "import velmora, sys; print(velmora.__file__); "
         "print(velmora.apilevel, velmora.paramstyle, velmora.__version__)"],
        capture_output=True, text=True, cwd=str(tmp_path))
    assert probe.returncode == 0, probe.stderr
    where, facts = probe.stdout.splitlines()
    assert where.startswith(str(venv)), where
    assert facts == "2.0 qmark 0.1"
