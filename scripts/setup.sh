#!/usr/bin/env bash
# Installs from Debian's packages whatever the build, the tests, the Python
# package and the checks need and this machine lacks (as root; otherwise it
# says what to install). Quick when nothing is missing.
set -euo pipefail
need=()
command -v cmake > /dev/null || need+=(cmake)
command -v g++ > /dev/null || need+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -f /usr/include/pybind11/pybind11.h ] || need+=(pybind11-dev)
[ -f /usr/include/netcdf.h ] || need+=(libnetcdf-dev)
[ -f /usr/include/openssl/evp.h ] || need+=(libssl-dev)
[ -n "$(ls /usr/include/eccodes.h /usr/include/*/eccodes.h 2> /dev/null)" ] || need+=(libeccodes-dev)
[ -f /usr/bin/python3 ] || need+=(python3)
# A real one-node Slurm for the job-array test: the daemons and the munge key service.
[ -x /usr/sbin/slurmctld ] && [ -x /usr/sbin/slurmd ] || need+=(slurm-wlm)
[ -x /usr/sbin/munged ] || need+=(munge)
ls /usr/include/python3*/Python.h > /dev/null 2>&1 || need+=(python3-dev)
for module in numpy:python3-numpy xarray:python3-xarray netCDF4:python3-netcdf4 pytest:python3-pytest eccodes:python3-eccodes \
              dask:python3-dask distributed:python3-distributed \
              matplotlib:python3-matplotlib; do
  /usr/bin/python3 -c "import ${module%%:*}" 2> /dev/null || need+=("${module#*:}")
done
if [ "${1:-}" = "--checks" ]; then  # the sanitizer and fuzzing checks: clang and its fuzzer runtime
  command -v clang++ > /dev/null || need+=(clang)
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a > /dev/null 2>&1 || need+=(libclang-rt-14-dev)
fi
[ ${#need[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing Debian packages: ${need[*]} (install them: sudo apt-get install ${need[*]})" >&2
  exit 1
fi
echo "setup: installing ${need[*]}" >&2
apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" > /dev/null
