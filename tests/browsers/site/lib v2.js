window.libVersion = 2;
