# SPDX-License-Identifier: GPL-3.0-or-later
# FAISS (Debian's static libfaiss) as the anchor; it brings OpenMP and BLAS with it.
find_package(OpenMP REQUIRED)
find_package(faiss CONFIG REQUIRED)
target_link_libraries(${name} PRIVATE faiss OpenMP::OpenMP_CXX TBB::tbb)
