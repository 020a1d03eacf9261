"""Holds files in the kernel's page cache as 4 KiB pages: each file is dropped from the cache
and read back one page at a time without read-ahead.

On kernels that cache files in large folios (a file written or read in long runs, as the bench
tables are when they are made and copied), a small write into such a file costs about ten
times what it costs in a 4 KiB page, whichever program writes it, and more the longer the runs
were, so it grows with the table. The bench posts run once on the files as copied and once on
files held like this, where the program's own cost shows.
Usage: page_cache.py FILE..."""
import os
import sys

for name in sys.argv[1:]:
    fd = os.open(name, os.O_RDONLY)
    try:
        os.fdatasync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_RANDOM)
        size = os.fstat(fd).st_size
        for at in range(0, size, 4096):
            os.pread(fd, 1, at)
    finally:
        os.close(fd)
