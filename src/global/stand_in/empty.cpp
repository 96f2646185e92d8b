// An empty library: built under the name of a library of dense kernels, it stands in for that
// library when the global solver module is loaded (see global/dense_kernels.h).
