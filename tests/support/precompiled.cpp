// The translation unit that the tests' shared precompiled headers are made
// from; it has nothing of its own.
