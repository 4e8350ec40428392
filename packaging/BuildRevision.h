#pragma once

// The git revision the program was built from ("v0.1.0-3-gdc9e314-dirty",
// "dc9e314", ...), or "" for a build outside a git work tree.
const char* BuildRevision();
