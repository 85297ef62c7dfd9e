-- The loader that remote-pack puts into every bundle.bin. It receives the whole bundle and
-- makes the packed files reachable: Lua files through require, under the names they have as
-- loose files, and every packed file through require('bundle').read(path).
--
-- The payload is the line "REMOTE BUNDLE 1", then one entry per file: its path relative to the
-- application folder ("/" between folders), a tab, its length in decimal, a newline, then the
-- file's bytes.
local content = ...
local loaderSize = tonumber(content:sub(-16):match("^%d+"))
local payloadEnd = #content - 16 - loaderSize
local magic = "REMOTE BUNDLE 1\n"

if content:sub(1, #magic) ~= magic then
    error("bundle.bin was not made by remote-pack", 0)
end

local files = {}
local position = #magic + 1
while position <= payloadEnd do
    local path, size, start = content:match("^([^\t\n]+)\t(%d+)\n()", position)
    if not path then
        error(("bundle.bin is damaged at byte %d"):format(position), 0)
    end
    local stop = start + tonumber(size) - 1
    if stop > payloadEnd then
        error(("bundle.bin is damaged: %s runs past the end of the payload"):format(path), 0)
    end
    files[path] = content:sub(start, stop)
    position = stop + 1
end

-- The same places, in the same order, as the host searches for loose files.
local templates = {"?/init.lua", "?.lua", "modules/?.lua"}

local function search(name)
    local stem = name:gsub("%.", "/")
    local missing = {}
    for _, template in ipairs(templates) do
        local path = template:gsub("%?", function() return stem end)
        local source = files[path]
        if source then
            local chunk, message = load(source, "@" .. path)
            if not chunk then
                error(("error loading module '%s' from file '%s':\n\t%s"):format(name, path, message), 0)
            end
            return chunk, path
        end
        missing[#missing + 1] = "\n\tno file '" .. path .. "' in bundle.bin"
    end
    return table.concat(missing)
end

table.insert(package.searchers, 2, search)

package.preload.bundle = function()
    local bundle = {}
    function bundle.read(path)
        return files[path]
    end
    function bundle.list()
        local paths = {}
        for path in pairs(files) do
            paths[#paths + 1] = path
        end
        table.sort(paths)
        return paths
    end
    return bundle
end
