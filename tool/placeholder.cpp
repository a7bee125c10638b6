namespace vexdram {}
