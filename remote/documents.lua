-- The demo's document pages: a screenplay read from screenplay.fountain, with its characters' lines
-- marked in colour or hidden, scrolled by buttons or the foot pedal; and a PDF viewer that opens
-- sample.pdf, or a file chosen in a dialog. Both files lie beside this file, or are packed in the
-- bundle the demo is installed as.
local qt = require 'qt.core'
local FDView = require 'fdview.core'
local pdf2 = require 'pdf2.core'
local hasBundle, bundle = pcall(require, 'bundle')

local documents = {buttons = {}, temporaries = {}}

local bar = {top = 8, h = 40, w = 104, gap = 8}

-- The folder of the loose files; nil when the demo runs from its bundle.
local function folder()
    local init = package.searchpath('remote', package.path)
    return init and init:match('^(.*)[/\\]')
end

local function readPacked(name)
    if not hasBundle then
        return nil
    end
    local ok, bytes = pcall(function() return bundle.read('remote/' .. name) end)
    return ok and type(bytes) == 'string' and bytes or nil
end

-- The viewers open only real files: a packed one is written to a temporary file first, which
-- goes at shutdown. Returns the path to open, or nil.
local function writeTemporary(bytes)
    local ok, path = pcall(os.tmpname)
    local file = ok and io.open(path, 'wb')
    if not file then
        return nil
    end
    file:write(bytes)
    file:close()
    documents.temporaries[path] = true
    return path
end

-- A data file the viewers open by path: the loose file, else the bundle's copy written out.
local function dataPath(name)
    local directory = folder()
    local path = directory and directory .. '/' .. name
    local file = path and io.open(path, 'rb')
    if file then
        file:close()
        return path
    end
    local bytes = readPacked(name)
    return bytes and writeTemporary(bytes)
end

-- The screenplay view reads the Fountain file itself; each character's cues and lines carry the
-- character's tag. The names come back by tag, in the order the characters first speak.
local function loadScript()
    local path = documents.scriptPath or 'screenplay.fountain'
    local ok, tags = pcall(documents.script.load, documents.script, path)
    if not ok then
        documents.script:clear()
        documents.script:add(tostring(tags), 'Action')
        tags = {}
    end
    local names = {}
    for name, tag in pairs(tags) do
        names[tag] = name
    end
    return names
end

local markColors = {0xFFF59D, 0xB3E5FC, 0xC8E6C9}

local function toggleMark(tag)
    documents.marked[tag] = not documents.marked[tag] or nil
    local color = markColors[(tag - 1) % #markColors + 1]
    documents.script:setColor(tag, documents.marked[tag] and color or 0xFFFFFF)
end

local function toggleHidden(tag)
    documents.hidden[tag] = not documents.hidden[tag] or nil
    documents.script:setVisibleForTag(tag, documents.hidden[tag] and 0 or 1)
end

-- A new font scale applies to paragraphs added after it: the script is loaded again, with its
-- marks and hidden characters as they were.
local function scaleFont(factor)
    local view = documents.script
    documents.scale = math.max(0.5, math.min(3, documents.scale * factor))
    view:setFontScale(documents.scale)
    local at = view:position()
    loadScript()
    for tag in pairs(documents.marked) do
        view:setColor(tag, markColors[(tag - 1) % #markColors + 1])
    end
    for tag in pairs(documents.hidden) do
        view:setVisibleForTag(tag, 0)
    end
    view:setPosition(at)
end

local function addButton(page, label, action)
    local button = qt.PushButton.create(page)
    documents.buttons[button] = {label = label, action = action}
    local list = documents.layout[page] or {}
    documents.layout[page] = list
    list[#list + 1] = button
    return button
end

local function makeScriptPage()
    local page = qt.QWidget.create(nil, false)
    page:setTitle("Screenplay")
    documents.script = FDView.create(page)
    documents.script:setEdit(0)
    documents.marked, documents.hidden, documents.scale = {}, {}, 1
    documents.scriptPath = dataPath('screenplay.fountain')
    documents.names = loadScript()
    addButton(page, 'Top', function() documents.script:setPosition(0) end)
    addButton(page, 'Back', function() documents.script:scrollStep(-1) end)
    addButton(page, 'On', function() documents.script:scrollStep(1) end)
    for tag, name in ipairs(documents.names) do
        addButton(page, 'Mark ' .. name, function() toggleMark(tag) end)
    end
    if documents.names[2] then
        addButton(page, 'Hide ' .. documents.names[2], function() toggleHidden(2) end)
    end
    addButton(page, 'A+', function() scaleFont(1.25) end)
    addButton(page, 'A-', function() scaleFont(0.8) end)
    return page
end

-- At fit width a page may be taller than the view: a turn moves by nine tenths of the view, and
-- on to the next page only once the end of this one is on screen.
local function turnPdf(direction)
    local v = documents.pdf
    local _, _, _, height = v:geometry()
    local page, x, y, zoom, fit = v:position()
    local step = math.max(1, math.floor(height * 0.9))
    if direction > 0 then
        v['goto'](v, page, x, y + step, zoom, fit)
        local now = v:position()
        if now ~= page then
            v['goto'](v, now, x, 0, zoom, fit)
        end
    elseif y > 0 then
        v['goto'](v, page, x, math.max(0, y - step), zoom, fit)
    elseif page > 0 then
        v['goto'](v, page, x, -step, zoom, fit)
    end
    if rawequal(rootWidget:currentWidget(), documents.pdfPage) then
        mainWindow:setText(documents.status(documents.pdfPage))
    end
end

local function openPdf(path)
    documents.pdf:open(path)
    documents.pdfPath = path
end

local function choosePdf()
    local path = qt.chooseFile(documents.pdfPage, "Open a PDF", folder() or "", "PDF files (*.pdf)")
    if path then
        openPdf(path)
        mainWindow:setText(documents.status(documents.pdfPage))
    end
end

local function makePdfPage()
    local page = qt.QWidget.create(nil, false)
    page:setTitle("PDF")
    documents.pdfPage = page
    documents.pdf = pdf2.create(page)
    addButton(page, 'Open...', choosePdf)
    addButton(page, 'Previous', function() turnPdf(-1) end)
    addButton(page, 'Next', function() turnPdf(1) end)
    addButton(page, 'Mark', function() documents.saved = {documents.pdf:position()} end)
    addButton(page, 'To mark', function()
        if documents.saved then
            documents.pdf['goto'](documents.pdf, table.unpack(documents.saved))
        end
    end)
    local path = dataPath('sample.pdf')
    if path then
        openPdf(path)
    end
    return page
end

function documents.create()
    documents.layout = {}
    documents.scriptPage = makeScriptPage()
    rootWidget:insertWidget(documents.scriptPage)
    rootWidget:insertWidget(makePdfPage())
end

local function pdfName()
    if not documents.pdfPath then
        return "no file"
    elseif documents.temporaries[documents.pdfPath] then
        return "sample.pdf (from the bundle)"
    end
    return documents.pdfPath
end

-- The status line of either page, or nil for any other page.
function documents.status(page)
    if rawequal(page, documents.scriptPage) then
        return "Screenplay - pedal 1 scrolls back, any other pedal on"
    elseif rawequal(page, documents.pdfPage) then
        local count = documents.pdf:pageCount()
        local at = count > 0 and string.format(" - page %d / %d", documents.pdf:position() + 1, count) or ""
        return "PDF - " .. pdfName() .. at .. "; pedal 1 turns back, any other pedal on"
    end
end

function documents.onShutdown()
    for path in pairs(documents.temporaries) do
        os.remove(path)
    end
end

-- The pedal drives the page in front: pedal 1 goes back, any other forwards.
local function pedalStep(pedal)
    local step = pedal == 1 and -1 or 1
    if rawequal(rootWidget:currentWidget(), documents.pdfPage) then
        turnPdf(step)
    else
        documents.script:scrollStep(step)
    end
end

function documents.onFootPress(pedal)
    pedalStep(pedal)
    mainWindow:setText("Pedal " .. pedal .. " pressed")
end

function documents.onFootRelease(pedal)
    mainWindow:setText("Pedal " .. pedal .. " released")
end

-- The handlers answer whether the event was theirs.
function documents.onClick(handle)
    local button = documents.buttons[handle]
    if button then
        button.action()
    end
    return button ~= nil
end

function documents.onPaint(handle)
    local button = documents.buttons[handle]
    if not button then
        return false
    end
    local w, h = lcdCanvas:size()
    lcdCanvas:gradient(0, 0, w, h, 0x404040, 'button', handle:state())
    lcdCanvas:text(10, h // 2 - 9, button.label, 14, 'white')
    return true
end

-- The buttons run in rows as wide as the page; the viewer takes the rest.
function documents.onResize(handle, w, h)
    local list = documents.layout and documents.layout[handle]
    if not list then
        return false
    end
    local perRow = math.max(1, (w - bar.gap) // (bar.w + bar.gap))
    for i, button in ipairs(list) do
        local column, row = (i - 1) % perRow, (i - 1) // perRow
        button:setGeometry(bar.gap + column * (bar.w + bar.gap), bar.top + row * (bar.h + bar.gap),
            bar.w, bar.h)
    end
    local rows = (#list + perRow - 1) // perRow
    local view = rawequal(handle, documents.pdfPage) and documents.pdf or documents.script
    local top = bar.top + rows * (bar.h + bar.gap)
    view:setGeometry(0, top, w, math.max(0, h - top))
    return true
end

return documents
