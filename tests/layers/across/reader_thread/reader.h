// A worker header.
