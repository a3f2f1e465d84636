document.title = "loaded";
