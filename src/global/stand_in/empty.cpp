// An empty library: built under the name of a library that CHOLMOD loads with it (dense kernels,
// orderings, the OpenMP runtime), it stands in for that library when the global solver module is
// loaded (see global/dense_kernels.h and global/ordering_libraries.h).
