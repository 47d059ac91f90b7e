"""Build backend: runs CMake for the library and the module and packs both in a wheel.

The module finds the library beside it ($ORIGIN). The interpreter that runs the build is the
one the module is built for.
"""

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import zipfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
NAME = "vexcomm"


def _version():
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*\w+\s+VERSION\s+([\d.]+)", text).group(1)


def _tag():
    python = f"cp{sys.version_info.major}{sys.version_info.minor}"
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{python}-{python}-{platform}"


# The C library's own parts, which every Linux system has.
C_RUNTIME = re.compile(r"(libc|libm|libdl|libpthread|librt|ld-linux[-\w]*)\.so")


def _metadata(system_libraries=()):
    lines = [
        "Metadata-Version: 2.1", f"Name: {NAME}", f"Version: {_version()}",
        "Summary: Late-bound access to the VexComm5 home-banking component",
        "License: Proprietary: all rights reserved, use and distribution only as agreed with "
        "the maintainers",
        "Requires-Python: >=3.9",
        "Classifier: License :: Other/Proprietary License",
        "Classifier: Operating System :: POSIX :: Linux",
        "Classifier: Programming Language :: C++",
        "Classifier: Programming Language :: Python :: 3",
        "Classifier: Typing :: Typed",
        # What the loader must find on the system: the wheel holds libvexcomm5 only.
        *(f"Requires-External: {library}" for library in system_libraries),
        "Description-Content-Type: text/plain",
        "",
        (SOURCE / "python" / NAME / "__init__.py").read_text().split('"""')[1].strip(),
    ]
    return "\n".join(lines) + "\n"


def get_requires_for_build_wheel(config_settings=None):
    return []


def _say(text):
    # pip shows what the backend writes when asked (-v), as it goes.
    print(f"vexcomm: {text}", file=sys.stderr, flush=True)


def _run(command):
    _say(" ".join(command))
    subprocess.run(command, check=True)


def _needed(path):
    """The shared libraries an ELF file asks the loader for."""
    if not shutil.which("readelf"):
        return []
    dynamic = subprocess.run(["readelf", "-d", str(path)], check=True, capture_output=True,
                             text=True).stdout
    return re.findall(r"\(NEEDED\).*\[(.+)\]", dynamic)


def _build(build_dir):
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
    _say(f"building libvexcomm5 and the module in {build_dir}; this takes minutes")
    _run(["cmake", "-S", str(SOURCE), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
          "-DVEXCOMM_BUILD_PYTHON=ON", "-DVEXCOMM_BUILD_TESTS=OFF", "-DVEXCOMM_BUILD_TOOLS=OFF",
          # The module finds the library beside it.
          "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON", "-DCMAKE_INSTALL_LIBDIR=lib",
          "-DVEXCOMM_PYTHON_INSTALL_DIR:STRING=lib", f"-DPython3_EXECUTABLE={sys.executable}",
          *(["-G", "Ninja"] if shutil.which("ninja") else []),
          *(["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else [])])
    _run(["cmake", "--build", str(build_dir), "--target", "vexcomm_python", "--parallel", jobs])
    package = build_dir / "python" / NAME
    files = {f"{NAME}/{p.name}": p for p in package.iterdir() if p.is_file()}
    # The library under its soname, the name the module asks the loader for.
    library = next(build_dir.glob("libvexcomm5.so.*.*"))
    soname = re.match(r"(libvexcomm5\.so\.\d+)", library.name).group(1)
    files[f"{NAME}/{soname}"] = library.resolve()
    needed = {name for path in files.values() if ".so" in path.name for name in _needed(path)}
    system = sorted(n for n in needed if n != soname and not C_RUNTIME.match(n))
    return files, system


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    version = _version()
    wheel_name = f"{NAME}-{version}-{_tag()}.whl"
    info = f"{NAME}-{version}.dist-info"
    with tempfile.TemporaryDirectory(prefix="vexcomm-wheel-") as work:
        files, system_libraries = _build(Path(work) / "build")
        entries = {name: path.read_bytes() for name, path in sorted(files.items())}
        entries[f"{info}/METADATA"] = _metadata(system_libraries).encode()
        entries[f"{info}/WHEEL"] = (f"Wheel-Version: 1.0\nGenerator: {NAME}_build\n"
                                    f"Root-Is-Purelib: false\nTag: {_tag()}\n").encode()
        record = [_record_line(name, data) for name, data in entries.items()]
        record.append(f"{info}/RECORD,,")
        with zipfile.ZipFile(Path(wheel_directory) / wheel_name, "w",
                             zipfile.ZIP_DEFLATED) as wheel:
            for name, data in entries.items():
                info_entry = zipfile.ZipInfo(name)
                executable = name.endswith(".so") or ".so." in name
                info_entry.external_attr = (0o755 if executable else 0o644) << 16
                info_entry.compress_type = zipfile.ZIP_DEFLATED
                wheel.writestr(info_entry, data)
            wheel.writestr(f"{info}/RECORD", "\n".join(record) + "\n")
    return wheel_name


def build_sdist(sdist_directory, config_settings=None):
    version = _version()
    base = f"{NAME}-{version}"
    archive = Path(sdist_directory) / f"{base}.tar.gz"
    listed = subprocess.run(["git", "-C", str(SOURCE), "ls-files"], check=True,
                            capture_output=True, text=True).stdout.split()
    with tempfile.TemporaryDirectory() as work:
        root = Path(work) / base
        for name in listed:
            target = root / name
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(SOURCE / name, target)
        (root / "PKG-INFO").write_text(_metadata())
        shutil.make_archive(str(archive).removesuffix(".tar.gz"), "gztar", work, base)
    return archive.name
